// Start-up, drawing surfaces, maps, option defaults, unit placement and map drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/structures.h"
#include "platform/gdi.h"

// Start-up and shut-down.
void initgame();
void inittimer();
void exitgame();
void initdisplay();
// Copies the panel's background below the map.
void blankpanel();

// Option defaults and side colours.
void initvars();

// The player's settings file: none until the front end names one (vantor-sim names none unless told).
void settingsfile(const std::string& path);
// The options of the last game started, over the defaults; a damaged file is passed over with a line
// on stderr, and a map that is gone leaves the first map chosen.
void loadsettings();
// Writes the options of the game being started, and the sound switch.
void savesettings();
// Writes the sound switch as it is now, leaving the rest of the file as it was.
void savesound();
// The window's colour-blind palette (app/palette.h), off unless the settings file says "palette 1".
// Saving it rewrites only its own line of the file.
bool colourblind();
void savecolourblind(bool on);

// Maps.
void loadmaps();
// Starts placing units on the chosen map pair, which is read and checked first. False, with the
// title screen's one-line reason in *why and nothing of the title screen changed, when it is refused.
bool startgame(std::string* why);
// Reads and decodes the named pair, built in or from the directory, as startgame does; on success the
// two pictures are the caller's, else both are null and *why is the title screen's one-line reason.
bool readmappair(const char* name, bool builtin, plat::Bitmap** mainmap, plat::Bitmap** tacmap, std::string* why);
// Releases the map pictures of a game, as the end of the game over does; safe when there are none.
void releasemap();
// Decodes the bytes of name.map and name.tac and checks them for the options of the next game. On success
// the two pictures are the caller's; else both are null and *why is the title screen's one-line reason.
bool decodemappair(const char* name, const void* map, size_t map_size, const void* tac, size_t tac_size,
                   plat::Bitmap** mainmap, plat::Bitmap** tacmap, std::string* why);

// Unit placement and map drawing.
void shuffle();
// Places one more unit of each kind still short for every side; false once all are placed.
bool initunit();
void startunit(uint8_t team, uint8_t type, uint32_t col1, uint32_t col2);
void pickcapital(uint8_t player);
void printunit(uint8_t i);
void printmap(plat::Surface* hDC);
// Copies a unit's icon square from the clean map to the window.
void restoreicon(const weapon& w);
void updateback();
