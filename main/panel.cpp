// The control panel: the selected unit's close-up, name, state and side, the bearing and power
// numbers, and the clicks on the dial, the power bar, the arrow buttons and the fire button.
#include <cmath>
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

constexpr int kDialX = DIAL.x0, kDialY = DIAL.y0, kDialSize = DIAL.width();
constexpr int kDialCentreX = DIAL_CENTRE_X, kDialCentreY = DIAL_CENTRE_Y;
constexpr int kNeedleLength = 19;
constexpr int kGaugeX = POWER_GAUGE.x0, kGaugeY = POWER_GAUGE.y0, kGaugeWidth = POWER_GAUGE.width();
constexpr int kGaugeHeight = POWER_GAUGE.height(), kGaugeBottom = POWER_GAUGE.y1;

// An arrow's picture at its place: up (0) or pressed (25) on the panel's sheet.
void draw_arrow(const Rect& arrow, int sx, int sy) { copy_sprite(sx, sy, kArrow, kArrow, arrow.x0, arrow.y0); }

// The needle and the gauge's level in a light tint of the side's colour, which reads on the dark
// dial and gauge.
plat::Colour aim_colour(uint8_t side) {
    constexpr plat::Colour kTints[NUM_SIDES] = {0x6060FF, 0xFFA060, 0x60FFFF, 0x60FF60};
    return side < NUM_SIDES ? kTints[side] : 0xC0C0C0;
}

// Copies a rectangle of the window's panel back from the panel's picture.
void restore_panel(int x, int y, int w, int h) {
    plat::select_bitmap(MapDC, hPanelimage);
    plat::blit(WinDC, x, y, w, h, MapDC, x, y - PANEL_Y, plat::SRCCOPY);
}

// For a silo or submarine, a needle on the dial at the bearing and a mark on the gauge at the
// power, where a click on the gauge would set it. Display only: the numbers stay the settings.
void printaim() {
    restore_panel(kDialX, kDialY, kDialSize, kDialSize);
    restore_panel(kGaugeX, kGaugeY, kGaugeWidth, kGaugeHeight);
    const weapon& w = item[cur_unit];
    if (!islauncher(w)) return;
    plat::Colour colour = aim_colour(w.side);
    double angle = bearing * PI / 180;
    for (int r = 0; r <= kNeedleLength; r++) {
        int x = kDialCentreX + static_cast<int>(std::lround(std::sin(angle) * r));
        int y = kDialCentreY - static_cast<int>(std::lround(std::cos(angle) * r));
        plat::set_pixel(WinDC, x, y, colour);
    }
    int level = kGaugeBottom - (power > MAX_POWER ? MAX_POWER : power) / 2;
    for (int x = kGaugeX + 1; x < kGaugeX + kGaugeWidth - 1; x++) {
        plat::set_pixel(WinDC, x, level, colour);
        plat::set_pixel(WinDC, x, level - 1, colour);
    }
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
    // The dial and the gauge show the same settings as the numbers.
    printaim();
}

void blankicons() {
    draw_arrow(BEARING_DOWN, 0, 50);
    draw_arrow(BEARING_UP, 25, 50);
    draw_arrow(POWER_DOWN, 0, 50);
    draw_arrow(POWER_UP, 25, 50);
}

void clickpanel(uint16_t x, uint16_t y) {
    if (y < MAP_HEIGHT) return;
    if (POWER_GAUGE.contains(x, y)) {
        PlayResource("SFXClick");
        int p = 2 * (kGaugeBottom - y);
        power = static_cast<uint16_t>(p > MAX_POWER ? MAX_POWER : p);
        printpanel();
    }
    if (DIAL.contains(x, y)) {
        PlayResource("SFXClick");
        bearing = compassbearing<float>(x - kDialCentreX, y - kDialCentreY);
        printpanel();
    }
    if (FIRE_BUTTON.contains(x, y) && launchmissile()) printpanel();
    if (BEARING_DOWN.contains(x, y)) {
        PlayResource("SFXClick");
        draw_arrow(BEARING_DOWN, 0, 75);
        bearing = bearing == 0 ? 359 : static_cast<uint16_t>(bearing - 1);
        bearingtext();
    }
    if (BEARING_UP.contains(x, y)) {
        PlayResource("SFXClick");
        draw_arrow(BEARING_UP, 25, 75);
        bearing = bearing >= 359 ? 0 : static_cast<uint16_t>(bearing + 1);
        bearingtext();
    }
    if (POWER_DOWN.contains(x, y)) {
        PlayResource("SFXClick");
        draw_arrow(POWER_DOWN, 0, 75);
        if (power > 0) power--;
        bearingtext();
    }
    if (POWER_UP.contains(x, y)) {
        PlayResource("SFXClick");
        draw_arrow(POWER_UP, 25, 75);
        if (power < MAX_POWER) power++;
        bearingtext();
    }
}
