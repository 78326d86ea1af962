// The control panel: the selected unit's close-up, name, state and side, the bearing and power
// numbers, and the clicks on the dial, the power bar, the arrow buttons and the fire button.
#include <cstdio>

#include "init/init.h"
#include "main/main.h"
#include "model/bearing.h"
#include "model/globals.h"
#include "model/layout.h"

namespace {

constexpr int kArrow = 25;
constexpr int kCell = 60;

void copy_sprite(int sx, int sy, int w, int h, int x, int y) {
    plat::select_bitmap(MapDC, hPanelgfx);
    plat::blit(WinDC, x, y, w, h, MapDC, sx, sy, plat::SRCCOPY);
}

bool inside(uint16_t x, uint16_t y, int x0, int x1, int y0, int y1) {
    return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

}  // namespace

void printpanel() {
    blankpanel();
    printammo();
    const weapon& w = item[cur_unit];
    plat::blit(WinDC, CLOSEUP_X, CLOSEUP_Y, CLOSEUP_WIDTH, CLOSEUP_HEIGHT, FullDC, w.x - 46, w.y - 21, plat::SRCCOPY);
    blitname();
    bearingtext();
    blankicons();
}

void printammo() {
    const weapon& w = item[cur_unit];
    copy_sprite(0, 100 + 25 * w.side, kCell, 25, 175, 430);
    if (w.flag == CITY) {
        copy_sprite(0, 200 + 25 * w.ammo, kCell, 25, 110, 430);
    } else if (w.flag == SILO || w.flag == SUB) {
        copy_sprite(0, w.ammo > 0 ? 250 + 25 * w.ammo : 350, kCell, 25, 110, 430);
    } else if (w.fact1 != NO_SLOT && w.fact1 < NUM_UNITS && item[w.fact1].flag != EMPTY) {
        const weapon& silo = item[w.fact1];
        plat::blit(WinDC, 110, 430, 25, 25, FullDC, silo.x - 8, silo.y - 8, plat::SRCCOPY);
    }
    if (w.fact2 != NO_SLOT && w.fact2 < NUM_UNITS && item[w.fact2].flag != EMPTY) {
        const weapon& silo = item[w.fact2];
        plat::blit(WinDC, 145, 430, 25, 25, FullDC, silo.x - 8, silo.y - 8, plat::SRCCOPY);
    }
}

void blitname() {
    const weapon& w = item[cur_unit];
    for (int i = 0; i < 16; i++)
        blitglyph(static_cast<uint16_t>(117 + GLYPH_WIDTH * i), 407, w.name[i], plat::SRCCOPY, false);
}

void bearingtext() {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", bearing % 1000);
    blittext(435, 407, text, 3);
    std::snprintf(text, sizeof text, "%02d", power % 100);
    blittext(492, 407, text, 2);
}

void blankicons() {
    copy_sprite(0, 50, kArrow, kArrow, 420, 430);
    copy_sprite(25, 50, kArrow, kArrow, 445, 430);
    copy_sprite(0, 50, kArrow, kArrow, 475, 430);
    copy_sprite(25, 50, kArrow, kArrow, 500, 430);
}

void clickpanel(uint16_t x, uint16_t y) {
    if (y < MAP_HEIGHT) return;
    if (inside(x, y, 530, 550, 405, 455)) {
        PlayResource("SFXClick");
        int p = 2 * (455 - y);
        power = static_cast<uint16_t>(p > MAX_POWER ? MAX_POWER : p);
        printpanel();
    }
    if (inside(x, y, 365, 415, 405, 455)) {
        PlayResource("SFXClick");
        bearing = compassbearing<float>(x - 390, y - 430);
        printpanel();
    }
    if (inside(x, y, 555, 595, 405, 455) && launchmissile()) printpanel();
    if (inside(x, y, 420, 445, 430, 455)) {
        PlayResource("SFXClick");
        copy_sprite(0, 75, kArrow, kArrow, 420, 430);
        bearing = bearing == 0 ? 359 : static_cast<uint16_t>(bearing - 1);
        bearingtext();
    }
    if (inside(x, y, 445, 470, 430, 455)) {
        PlayResource("SFXClick");
        copy_sprite(25, 75, kArrow, kArrow, 445, 430);
        bearing = bearing >= 359 ? 0 : static_cast<uint16_t>(bearing + 1);
        bearingtext();
    }
    if (inside(x, y, 475, 500, 430, 455)) {
        PlayResource("SFXClick");
        copy_sprite(0, 75, kArrow, kArrow, 475, 430);
        if (power > 0) power--;
        bearingtext();
    }
    if (inside(x, y, 500, 525, 430, 455)) {
        PlayResource("SFXClick");
        copy_sprite(25, 75, kArrow, kArrow, 500, 430);
        if (power < MAX_POWER) power++;
        bearingtext();
    }
}
