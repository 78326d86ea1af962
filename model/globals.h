// Every global of the game, declared once here and defined in globals.cpp.
#pragma once

#include <cstdint>

#include "model/structures.h"
#include "platform/gdi.h"
#include "platform/window.h"

// Tables.
extern weapon item[NUM_UNITS];          // unit slots, 40 per side
extern icbm shot[NUM_SHOTS];            // missile slots
extern filename filelist[MAX_MAPS];     // listed map names
extern bool map_builtin[MAX_MAPS];      // the listed map is built in, not a pair of files
extern uint8_t num_maps;                // entries in filelist

// Options of a game, chosen on the title screen.
extern uint8_t num_players;             // sides in the game, 2..4
extern bool cpu_player[NUM_SIDES];      // side is played by the computer
extern uint8_t cur_map;
extern uint8_t num_city;
extern uint8_t num_silo;
extern uint8_t num_sub;
extern uint8_t num_factory;             // always num_silo / 2
extern uint16_t cpu_skill;              // the computer's aiming error in pixels

extern uint32_t sidecols[NUM_SIDES];    // the four territory colours
extern uint32_t startcols[NUM_SIDES];   // territory colour of each side in this game
extern uint16_t seed;                   // state of the random number generator

// The running game.
extern uint8_t timer_mode;              // the screen: 1 placing, 2 playing, 3 title, 4 game over, 5 intro
extern uint8_t cur_player;              // the side to move
extern uint8_t cur_unit;                // slot of the selected unit
extern bool alive[NUM_SIDES];           // the side is still in the game
extern bool justaborted;                // the game ended with the abort button
extern bool introover;                  // the intro has been shown in full
extern bool cursor_on;                  // the selection frame is drawn
extern uint8_t timer_count;             // ticks since the frame last changed
extern uint16_t bearing;                // set on the panel, 0..359
extern uint16_t power;                  // set on the panel, 0..99
extern uint8_t supply;                  // turns of the lowest live side since the last refill

// The computer player; cpu_timer also counts the intro's and the game over's ticks.
extern uint8_t cpu_unit;
extern uint16_t cpu_bearing;
extern uint16_t cpu_power;
extern uint16_t cpu_timer;

// A line the title screen shows in place of the map name until the next click (a refused map).
extern char title_message[32];

// Window and drawing surfaces.
extern plat::Window* hwnd;
extern void* hInst;
extern plat::Surface* WinDC;            // the window; stands for the paint surface while a paint runs
extern plat::Surface* MapDC;            // scratch surface for copies from a bitmap
extern plat::Surface* TactDC;           // holds the territory map of the game
extern plat::Surface* FullDC;           // holds hFullimage, the clean map with every unit icon
extern plat::Surface* PaintDC;
extern plat::Surface* TempDC;
extern plat::PaintRecord paintstruct;
extern plat::Bitmap* hMainmap;          // the shown map
extern plat::Bitmap* hTacticalmap;      // the territory map
extern plat::Bitmap* hFullimage;
extern plat::Bitmap* hPanelgfx;         // sprite sheet
extern plat::Bitmap* hPanelimage;       // panel background
extern plat::Bitmap* hFontgfx;          // font
extern plat::Bitmap* hTitlegfx;         // title screen

// Puts every global back to its starting value, for tests. Frees nothing: release surfaces first.
void reset_globals();
