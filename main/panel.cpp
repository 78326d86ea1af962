// The control panel: the selected unit's close-up, name, state and side, the bearing and power
// numbers, and the clicks on the dial, the power bar, the arrow buttons and the fire button.
#include <cmath>
#include <cstdio>

#include "main/main.h"
#include "model/globals.h"

namespace {

constexpr int kArrow = 25;
constexpr int kCell = 60;

void copy_sprite(int sx, int sy, int w, int h, int x, int y) {
    plat::select_bitmap(MapDC, hPanelgfx);
    plat::blit(WinDC, x, y, w, h, MapDC, sx, sy, plat::SRCCOPY);
}

// Glyph of a name character: the font's rule without the pound and dollar signs.
int name_glyph(char c) {
    if (c == '.') return 1;
    if (c >= '0' && c <= '9') return c - 46;
    if (c >= 'A' && c <= 'Z') return c - 53;
    if (c >= 'a' && c <= 'z') return c - 85;
    return 0;
}

// The compass direction of a dial click from the dial's centre, in single precision.
uint16_t dial_bearing(int dx, int dy) {
    if (dx == 0) return dy <= 0 ? 0 : 180;
    if (dy == 0) return dx > 0 ? 90 : 270;
    float phi = static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
    float d = static_cast<float>((phi + 3.141592654) * 180 / 3.141592654);
    double b = d > 90 ? std::floor(static_cast<double>(d) - 90) : std::floor(static_cast<double>(d) + 270);
    return static_cast<uint16_t>(b);
}

bool inside(uint16_t x, uint16_t y, int x0, int x1, int y0, int y1) {
    return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

bool free_missile_slot() {
    for (const icbm& s : shot)
        if (s.flag == 0) return true;
    return false;
}

void fire() {
    weapon& w = item[cur_unit];
    if (!(w.flag & LAUNCHER_BIT) || w.ammo == 0) return;
    // With every missile slot in flight nothing can be launched: keep the missile and the turn.
    if (!free_missile_slot()) return;
    w.ammo--;
    w.old_power = static_cast<uint8_t>(power);
    w.old_bearing = bearing;
    PlayResource("SFXMissilelaunch");
    startshot();
    printpanel();
}

}  // namespace

void printpanel() {
    plat::select_bitmap(MapDC, hPanelimage);
    plat::blit(WinDC, 0, MAP_HEIGHT, CLIENT_WIDTH, PANEL_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    printammo();
    const weapon& w = item[cur_unit];
    plat::blit(WinDC, 5, 405, 100, 50, FullDC, w.x - 46, w.y - 21, plat::SRCCOPY);
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
    plat::select_bitmap(MapDC, hFontgfx);
    for (int i = 0; i < 16; i++)
        plat::blit(WinDC, 117 + 7 * i, 407, 7, 16, MapDC, 7 * name_glyph(w.name[i]), 0, plat::SRCCOPY);
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
        power = static_cast<uint16_t>(p > 99 ? 99 : p);
        printpanel();
    }
    if (inside(x, y, 365, 415, 405, 455)) {
        PlayResource("SFXClick");
        bearing = dial_bearing(x - 390, y - 430);
        printpanel();
    }
    if (inside(x, y, 555, 595, 405, 455)) fire();
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
        if (power < 99) power++;
        bearingtext();
    }
}
