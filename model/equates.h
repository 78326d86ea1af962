// Codes and constants of the game: unit types, sides, colours, table sizes.
#pragma once

#include <cstdint>

// Unit types held in weapon.flag. The launchers (silo, submarine) are the types with bit 1 set.
enum : uint8_t {
    EMPTY = 0,
    CITY = 1,
    SILO = 2,
    SUB = 3,
    FACTORY = 4,
};
constexpr uint8_t LAUNCHER_BIT = 2;

// Side 4 owns the units of eliminated sides.
constexpr uint8_t GREY = 4;
constexpr int NUM_SIDES = 4;

// An 8-bit slot index that names no slot.
constexpr uint8_t NO_SLOT = 255;

constexpr int NUM_UNITS = 160;
constexpr int UNITS_PER_SIDE = 40;
constexpr int NUM_SHOTS = 50;
constexpr int TRAIL_LENGTH = 20;
constexpr int MAX_MAPS = 150;
constexpr int MAP_NAME_SIZE = 50;

// Colours, 0x00BBGGRR.
constexpr uint32_t RED = 0x0000FF;
constexpr uint32_t BLUE = 0xFF0000;
constexpr uint32_t YELLOW = 0x00FFFF;
constexpr uint32_t GREEN = 0x00FF00;
constexpr uint32_t SEA = 0xFFFF00;
constexpr uint32_t WHITE = 0xFFFFFF;

// The window's client area: the map on top, the control panel below.
constexpr int MAP_WIDTH = 600;
constexpr int MAP_HEIGHT = 400;
constexpr int PANEL_HEIGHT = 60;
constexpr int CLIENT_WIDTH = 600;
constexpr int CLIENT_HEIGHT = 460;

// The screens, values of timer_mode.
enum : uint8_t {
    MODE_START = 0,
    MODE_PLACING = 1,
    MODE_PLAYING = 2,
    MODE_TITLE = 3,
    MODE_GAMEOVER = 4,
    MODE_INTRO = 5,
};

// The game's clock: one tick every 100 ms. Fast play runs the same ticks four times as often.
constexpr uint32_t TIMER_ID = 1;
constexpr uint32_t TICK_MS = 100;
constexpr uint32_t FAST_TICK_MS = 25;

// The game's value of pi, in every angle it works out.
constexpr double PI = 3.141592654;

// A missile's range: 3 pixels for every point of power, 0..99.
constexpr int RANGE_PER_POWER = 3;
constexpr int MAX_POWER = 99;

// A silo or submarine holds up to 3 missiles; a city starts with 2 points of contentment.
constexpr uint8_t MAX_MISSILES = 3;
constexpr uint8_t MAX_CONTENTMENT = 2;

// Factories refill their silos at every second turn of the lowest live side.
constexpr uint8_t RESUPPLY_CYCLES = 2;

// The selection frame shows for 3 ticks and hides for 3.
constexpr uint8_t BLINK_TICKS = 3;

// Why a side went out of the game.
enum : uint8_t {
    OUT_NO_MISSILES,
    OUT_CAPITAL_DESTROYED,
    OUT_CAPITAL_DESPAIR,
};

// Option limits.
constexpr uint8_t MAX_CITY = 20;
constexpr uint8_t MAX_SILO = 10;
constexpr uint8_t MAX_SUB = 5;
constexpr uint16_t MAX_SKILL = 40;
