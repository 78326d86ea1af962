// Turns, selection and elimination: whose turn it is, the selected unit, the cursor, the abort
// control and the grey-out of eliminated sides.
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "model/random.h"

void erasecursor(uint8_t slot) {
    int x = item[slot].x - CURSOR_MARGIN;
    int y = item[slot].y - CURSOR_MARGIN;
    plat::blit(WinDC, x, y, CURSOR_SIZE, CURSOR_SIZE, FullDC, x, y, plat::SRCCOPY);
}

void selectunit(uint8_t slot) {
    cur_unit = slot;
    power = item[slot].old_power;
    bearing = item[slot].old_bearing;
    printpanel();
}

bool hasloadedlauncher(uint8_t side) {
    for (const weapon& w : item)
        if (loadedlauncher(w, side)) return true;
    return false;
}

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
    clearnews();
    showturn();
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
    showturn();
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
    if (supply != RESUPPLY_CYCLES) return;
    supply = 0;
    for (weapon& factory : item) {
        if (factory.flag != FACTORY) continue;
        for (uint8_t link : {factory.fact1, factory.fact2}) {
            if (link == NO_SLOT || link >= NUM_UNITS) continue;
            weapon& silo = item[link];
            if (silo.flag != EMPTY && silo.ammo < MAX_MISSILES) silo.ammo++;
        }
    }
}

void checkammo(uint8_t p) {
    if (p >= NUM_SIDES || !alive[p] || hasloadedlauncher(p)) return;
    noteout(p, OUT_NO_MISSILES);
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
        showresult();
    }
}

void findnextunit() {
    for (int i = 0; i < NUM_UNITS; i++) {
        if (item[i].flag != EMPTY && item[i].side == cur_player) {
            erasecursor(cur_unit);
            selectunit(static_cast<uint8_t>(i));
            return;
        }
    }
}

void flashcursor() {
    timer_count++;
    if (timer_count < BLINK_TICKS) return;
    timer_count = 0;
    cursor_on = !cursor_on;
    const weapon& w = item[cur_unit];
    if (w.flag == EMPTY) return;
    plat::select_bitmap(MapDC, hPanelgfx);
    if (cursor_on) {
        plat::blit(WinDC, w.x - CURSOR_MARGIN, w.y - CURSOR_MARGIN, CURSOR_SIZE, CURSOR_SIZE, MapDC, CURSOR_SHEET_X,
                   CURSOR_SHEET_Y, plat::SRCPAINT);
    } else {
        erasecursor(cur_unit);
    }
}

void clickunit(uint16_t x, uint16_t y) {
    if (y > MAP_HEIGHT) return;
    int lowest = -1;  // the side's lowest slot under the click
    int after = -1;   // its lowest slot under the click above the selected unit
    bool on_selected = false;
    for (int i = 0; i < NUM_UNITS; i++) {
        const weapon& w = item[i];
        // The hit area is the 8 x 8 pixels from (x + 1, y + 1): every bound is strict.
        if (w.flag == EMPTY || !(x > w.x && y > w.y && x < w.x + ICON_SIZE && y < w.y + ICON_SIZE)) continue;
        if (w.side != cur_player) continue;
        if (lowest < 0) lowest = i;
        if (i == cur_unit) on_selected = true;
        if (i > cur_unit && after < 0) after = i;
    }
    if (lowest < 0) return;
    // A person's click on the selected unit goes on to the next unit of the side under it, wrapping to
    // the lowest, so that a launcher hidden under another can be chosen. The computer picks its units
    // by slot and keeps to the lowest slot under the point.
    int slot = lowest;
    if (on_selected && after >= 0 && !cpu_player[cur_player]) slot = after;
    item[cur_unit].old_power = static_cast<uint8_t>(power);
    item[cur_unit].old_bearing = bearing;
    erasecursor(cur_unit);
    PlayResource("SFXCursor");
    selectunit(static_cast<uint8_t>(slot));
}

void clickabort(uint16_t x, uint16_t y) {
    if (!in_abort_button(x, y)) return;
    PlayResource("SFXBoom");
    for (int b = 0; b < num_players && b < NUM_SIDES; b++) alive[b] = false;
    for (weapon& w : item) {
        w.side = GREY;
        w.greynow = true;
    }
    updateback();
    endgame();
    justaborted = true;
    showresult();
}

void greyunits() {
    for (int pass = 0; pass < 3; pass++) {
        for (weapon& w : item) {
            if (w.flag == EMPTY || !w.greynow) continue;
            restoreicon(w);
            w.greynow = false;
            if (pass == 0) PlayResource("SFXGreyout");
            break;
        }
        if (!justaborted) return;
    }
}

void changehands(uint32_t side, int32_t computer) {
    if (side >= NUM_SIDES || (computer != 0 && computer != 1)) return;
    bool to_computer = computer == 1;
    bool changed = cpu_player[side] != to_computer;
    cpu_player[side] = to_computer;
    if (timer_mode == MODE_TITLE) {
        // As a click on the box would: a person's side beyond the last is brought into the game.
        if (!to_computer && num_players <= side) num_players = static_cast<uint8_t>(side + 1);
        titleinfo();
        return;
    }
    if (!changed || timer_mode != MODE_PLAYING || side != cur_player) return;
    // The side to move: the computer plans afresh, as at the start of a turn; a person takes over
    // the selection as it stands.
    if (to_computer) cpubrain();
    showturn();
    pacetimer();
}
