// The colour-blind palette: the sides' colours changed where the window is shown, with a letter of
// each side on its player box and on the panel's side box. The game's picture, its state hash, its
// replays and online streams are the same with it on or off.
#pragma once

#include <cstdint>

#include "platform/gdi.h"
#include "platform/window.h"

// What the palette makes of the sides' colours, Red, Blue, Yellow and Green (0x00BBGGRR): four that
// stay apart under the common colour blindnesses (tools/palette/colourblind.py simulates them).
extern const plat::Colour kPaletteColours[4];

// Switches the palette on or off in the game's window, and remembers it with the settings when told.
void set_palette(bool on, bool remember);
// Whether the message is the palette's key, C; it then switches the palette. Every message loop of
// the window asks this first, so the key never reaches the game, its replay or the room.
bool palette_key(const plat::Message& msg);
// The palette's change of colours and marks, as the window applies it (a plat::PresentFilter).
void show_palette(const plat::Colour* picture, plat::Colour* out, int width, int x, int y, int w, int h);
