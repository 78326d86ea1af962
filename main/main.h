// The game itself: dispatch, text and sound, screens, turns, missiles, impacts, computer player, panel.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi.h"

// Dispatch by timer_mode.
void timerops();
void repaint();
// The whole window onto a blank picture, the game-over screen included: what a newcomer is shown.
void paintwhole();
void mouseclick(uint16_t x, uint16_t y);
// F or the space bar: fast play on or off.
void keypress(uint32_t key);
// Fast play runs a computer side's turns, and games with no human side, at four ticks to one.
void togglefast();
// Sets the timer's period for the side to move: fast in a computer's turn with fast play on.
void pacetimer();

// Text and sound.
void blittext(uint16_t x, uint16_t y, const char* str, uint8_t len);
// One character of the bitmap font, copied or ORed onto the window; without signs the pound and
// dollar signs draw blank, as in unit names.
void blitglyph(uint16_t x, uint16_t y, char c, plat::Rop rop, bool signs = true);
// A dash in the font's style, for a room code: the font itself has none, and the rules' texts draw
// it blank.
void blitdash(uint16_t x, uint16_t y);
void PlayResource(const char* lpName);

// Title screen.
void starttitle();
void clicktitle(uint16_t x, uint16_t y);
void titleinfo();
// Tells the players a line on the title screen until the next click (title_news), at once if it is up.
void titlenews(const std::string& line);
void blankicons2();
// Map files were added to the working directory: the list is made again, the chosen map kept.
void mapsadded();

// Turns, selection and elimination.
// Once every unit is placed: the capitals, a random side to move first, and the map shown.
void beginplay();
void nextplayer();
void resupply();
void checkammo(uint8_t p);
void playerlost(uint8_t player);
void endgame();
void findnextunit();
// Copies the clean map back over the selection frame of a unit.
void erasecursor(uint8_t slot);
// Makes a unit the selected one, with its remembered settings on the panel.
void selectunit(uint8_t slot);
// Whether the side has a silo or submarine with a missile left.
bool hasloadedlauncher(uint8_t side);
void flashcursor();
void clickunit(uint16_t x, uint16_t y);
void clickabort(uint16_t x, uint16_t y);
void greyunits();
// A side changes hands in online play: computer 1 gives it to the computer, 0 to a person. On the
// title screen a person's side is brought into the game and the player boxes are drawn again; a side
// handed to the computer in its turn plans its shot at once. Anything else is ignored.
void changehands(uint32_t side, int32_t computer);

// Missiles.
// Fires the selected unit, which must be a loaded launcher of the side to move, and passes the
// turn. False, with nothing changed, when it cannot fire or every missile slot is in use.
bool launchmissile();
void startshot();
void moveshots();

// Impacts.
void checkhits(int i);
void checkcity(int unit);
void makesadder();

// Computer player.
void cpubrain();
void cpuaction();

// Control panel.
void printpanel();
void printammo();
void blitname();
void bearingtext();
void blankicons();
void clickpanel(uint16_t x, uint16_t y);

// What the players are told: the caption and the title screen's line after a game.
const char* sidename(uint8_t side);
// "Vantor - what", or "Vantor" alone for null.
void showcaption(const char* what);
// A side goes out, for the reason given (OUT_...): the caption says so, with any other side that
// went out since, until the next launch.
void noteout(uint8_t side, uint8_t why);
void clearnews();
// Whose turn it is, or once the game is over who won.
void showturn();
void showresult();
// The caption of the running screen again, after something it shows changed (the sound switch).
void refreshcaption();
// The title screen's line names the result of the game just over.
void noteresult();

// Intro and game over.
void startintro();
void introtext();
// Shows the intro to its end and clicks through to the title, as a person can at once.
void skipintro();
void gameover();
