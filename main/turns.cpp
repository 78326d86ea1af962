// Turns, selection and elimination: whose turn it is, the selected unit, the cursor, the abort
// control and the grey-out of eliminated sides.
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/random.h"

namespace {

constexpr int kCursorSize = 13;
constexpr int kIconSize = 9;

// Copies the clean map back over the selection frame of a unit.
void erase_cursor(uint8_t slot) {
    plat::blit(WinDC, item[slot].x - 2, item[slot].y - 2, kCursorSize, kCursorSize, FullDC, item[slot].x - 2,
               item[slot].y - 2, plat::SRCCOPY);
}

void select_unit(uint8_t slot) {
    cur_unit = slot;
    power = item[slot].old_power;
    bearing = item[slot].old_bearing;
    printpanel();
}

}  // namespace

void beginplay() {
    for (int b = 0; b < num_players; b++) pickcapital(static_cast<uint8_t>(b));
    for (int b = num_players; b < NUM_SIDES; b++) alive[b] = false;
    timer_count = 0;
    supply = 0;
    cur_player = static_cast<uint8_t>(sc_rnd(static_cast<uint16_t>(num_players - 1)));
    findnextunit();
    if (cpu_player[cur_player]) cpubrain();
    printpanel();
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    timer_mode = MODE_PLAYING;
}

void nextplayer() {
    for (int i = 0; i < 8; i++) {
        cur_player = static_cast<uint8_t>((cur_player + 1) % NUM_SIDES);
        if (alive[cur_player]) break;
    }
    if (!alive[cur_player]) return;
    if (cpu_player[cur_player]) cpubrain();
    resupply();
    checkammo(cur_player);
    findnextunit();
}

void resupply() {
    int lowest = -1;
    for (int b = 0; b < num_players && b < NUM_SIDES; b++) {
        if (alive[b]) {
            lowest = b;
            break;
        }
    }
    if (lowest != cur_player) return;
    supply++;
    if (supply != 2) return;
    supply = 0;
    for (weapon& factory : item) {
        if (factory.flag != FACTORY) continue;
        for (uint8_t link : {factory.fact1, factory.fact2}) {
            if (link == NO_SLOT || link >= NUM_UNITS) continue;
            weapon& silo = item[link];
            if (silo.flag != EMPTY && silo.ammo < 3) silo.ammo++;
        }
    }
}

void checkammo(uint8_t p) {
    if (p >= NUM_SIDES || !alive[p]) return;
    for (const weapon& w : item) {
        if (w.side == p && w.ammo > 0 && (w.flag & LAUNCHER_BIT)) return;
    }
    playerlost(p);
}

void playerlost(uint8_t player) {
    alive[player] = false;
    for (weapon& w : item) {
        if (w.flag != EMPTY && w.side == player) {
            w.side = GREY;
            w.greynow = true;
        }
    }
    if (player == cur_player) nextplayer();
    updateback();
    endgame();
}

void endgame() {
    int left = 0;
    for (int b = 0; b < num_players && b < NUM_SIDES; b++) left += alive[b] ? 1 : 0;
    if (left <= 1) {
        cpu_timer = 0;
        timer_mode = MODE_GAMEOVER;
    }
}

void findnextunit() {
    for (int i = 0; i < NUM_UNITS; i++) {
        if (item[i].flag != EMPTY && item[i].side == cur_player) {
            erase_cursor(cur_unit);
            select_unit(static_cast<uint8_t>(i));
            return;
        }
    }
}

void flashcursor() {
    timer_count++;
    if (timer_count < 3) return;
    timer_count = 0;
    cursor_on = !cursor_on;
    const weapon& w = item[cur_unit];
    if (w.flag == EMPTY) return;
    plat::select_bitmap(MapDC, hPanelgfx);
    if (cursor_on) {
        plat::blit(WinDC, w.x - 2, w.y - 2, kCursorSize, kCursorSize, MapDC, 40, 0, plat::SRCPAINT);
    } else {
        erase_cursor(cur_unit);
    }
}

void clickunit(uint16_t x, uint16_t y) {
    if (y > MAP_HEIGHT) return;
    for (int i = 0; i < NUM_UNITS; i++) {
        const weapon& w = item[i];
        // The hit area is the 8 x 8 pixels from (x + 1, y + 1): every bound is strict.
        if (w.flag == EMPTY || !(x > w.x && y > w.y && x < w.x + kIconSize && y < w.y + kIconSize)) continue;
        if (w.side != cur_player) continue;
        item[cur_unit].old_power = static_cast<uint8_t>(power);
        item[cur_unit].old_bearing = bearing;
        erase_cursor(cur_unit);
        PlayResource("SFXCursor");
        select_unit(static_cast<uint8_t>(i));
        return;
    }
}

void clickabort(uint16_t x, uint16_t y) {
    if (!(x > 260 && x < 340 && y > 405 && y < 455)) return;
    PlayResource("SFXBoom");
    for (int b = 0; b < num_players && b < NUM_SIDES; b++) alive[b] = false;
    for (weapon& w : item) {
        w.side = GREY;
        w.greynow = true;
    }
    updateback();
    endgame();
    justaborted = true;
}

void greyunits() {
    for (int pass = 0; pass < 3; pass++) {
        for (weapon& w : item) {
            if (w.flag == EMPTY || !w.greynow) continue;
            plat::blit(WinDC, w.x, w.y, kIconSize, kIconSize, FullDC, w.x, w.y, plat::SRCCOPY);
            w.greynow = false;
            if (pass == 0) PlayResource("SFXGreyout");
            break;
        }
        if (!justaborted) return;
    }
}
