// The records of the game: a unit, a missile in flight, a listed map name.
#pragma once

#include <cstdint>
#include <type_traits>

#include "model/equates.h"
#include "model/motion.h"

// One unit on the map.
struct weapon {
    uint8_t flag;          // unit type; 0 = slot empty
    uint8_t side;          // owner 0..3, or 4 = grey
    uint16_t x;            // top-left of the 9 x 9 icon
    uint16_t y;
    char name[17];         // 16 characters, space-padded, then NUL
    uint8_t old_power;     // settings remembered between selections
    uint16_t old_bearing;
    uint8_t ammo;          // city: contentment 0..2; silo, submarine: missiles 0..3
    uint8_t fact1;         // factory: the silos it supplies; 255 = none
    uint8_t fact2;
    bool supplied;         // silo: claimed by a factory; city: the capital
    bool greynow;          // turned grey, icon still to be redrawn on the window
    uint8_t spare = 0;     // fills the record out, so that its bytes are all fields and hash alike
};

// A silo or a submarine.
inline bool islauncher(const weapon& w) { return (w.flag & LAUNCHER_BIT) != 0; }

// A silo or submarine of that side with a missile left: a side without one is out of the game.
inline bool loadedlauncher(const weapon& w, uint8_t side) { return w.side == side && w.ammo > 0 && islauncher(w); }

// One missile in flight or exploding.
struct icbm {
    uint8_t flag;              // 1 while in use
    uint8_t spare1 = 0;        // the spares fill the record out, so that its bytes are all fields
    motion track;              // x is map x + 1000, y map y, z progress 0..62
    int16_t xdest;             // blast centre
    int16_t ydest;
    uint8_t size;              // explosion frame counter, 0 in flight
    uint8_t spare2 = 0;
    int16_t xco[TRAIL_LENGTH]; // trail, oldest first; -1 marks an empty entry
    uint16_t yco[TRAIL_LENGTH];
    uint32_t col[TRAIL_LENGTH];  // the clean map colour under each trail pixel
};

// One listed map: its base name, the file name up to its first ".".
struct filename {
    char letter[MAP_NAME_SIZE];
};

// The state hash reads these records as bytes: none may have padding, whose bytes are anybody's.
static_assert(std::has_unique_object_representations_v<weapon>);
static_assert(std::has_unique_object_representations_v<icbm>);
static_assert(std::has_unique_object_representations_v<filename>);
