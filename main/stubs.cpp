// Handlers still to be written.
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"

void starttitle() {}
void clicktitle(uint16_t, uint16_t) {}
void titleinfo() {}
void blankicons2() {}
void nextplayer() {}
void resupply() {}
void checkammo(uint8_t) {}
void playerlost(uint8_t) {}
void endgame() {}
void findnextunit() {}
void flashcursor() {}
void clickunit(uint16_t, uint16_t) {}
void clickabort(uint16_t, uint16_t) {}
void greyunits() {}
void startshot() {}
void moveshots() {}
void checkhits(int) {}
void checkcity(int) {}
void makesadder() {}
void cpubrain() {}
void cpuaction() {}
void printpanel() {}
void printammo() {}
void blitname() {}
void bearingtext() {}
void blankicons() {}
void clickpanel(uint16_t, uint16_t) {}
void startintro() {}
void introtext() {}
void gameover() {}
void loadmaps() {}
void startgame() {}
void releasemap() {}
void shuffle() {}
void initunit() {}
void startunit(uint8_t, uint8_t, uint32_t, uint32_t) {}
void pickcapital(uint8_t) {}
void printunit(uint8_t) {}
void printmap(plat::Surface*) {}
void updateback() {}
