// The game itself: dispatch, text and sound, screens, turns, missiles, impacts, computer player, panel.
#pragma once

#include <cstdint>

// Dispatch by timer_mode.
void timerops();
void repaint();
void mouseclick(uint16_t x, uint16_t y);

// Text and sound.
void blittext(uint16_t x, uint16_t y, const char* str, uint8_t len);
void PlayResource(const char* lpName);

// Title screen.
void starttitle();
void clicktitle(uint16_t x, uint16_t y);
void titleinfo();
void blankicons2();

// Turns, selection and elimination.
// Once every unit is placed: the capitals, a random side to move first, and the map shown.
void beginplay();
void nextplayer();
void resupply();
void checkammo(uint8_t p);
void playerlost(uint8_t player);
void endgame();
void findnextunit();
void flashcursor();
void clickunit(uint16_t x, uint16_t y);
void clickabort(uint16_t x, uint16_t y);
void greyunits();

// Missiles.
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

// Intro and game over.
void startintro();
void introtext();
void gameover();
