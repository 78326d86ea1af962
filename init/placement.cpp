// Unit placement and map drawing: the territory colours of a game, the scattering of every side's
// units over its territory one per tick, the capitals, and the icons on the map pictures.
#include "init/init.h"
#include "model/globals.h"
#include "model/layout.h"
#include "model/random.h"
#include "model/unitnames.h"

namespace {

uint32_t second_colour(int b) { return num_players <= 2 ? startcols[b + 2] : startcols[b]; }

void place_all(uint8_t type) {
    for (int b = 0; b < num_players; b++) {
        if (type == SUB) {
            startunit(static_cast<uint8_t>(b), type, SEA, SEA);
        } else {
            startunit(static_cast<uint8_t>(b), type, startcols[b], second_colour(b));
        }
    }
}

// ORs a unit's icon in its side's colour onto a surface, from the sprite sheet selected into sheet.
void paint_icon(plat::Surface* dst, const weapon& w, const plat::Surface* sheet) {
    plat::blit(dst, w.x, w.y, ICON_SIZE, ICON_SIZE, sheet, (w.flag - 1) * ICON_CELL, w.side * ICON_CELL,
               plat::SRCPAINT);
}

void claim_silos(int factory, uint8_t team) {
    weapon& f = item[factory];
    for (int j = UNITS_PER_SIDE * team; j < UNITS_PER_SIDE * (team + 1); j++) {
        weapon& s = item[j];
        if (s.flag == SILO && !s.supplied && f.fact1 == NO_SLOT) {
            s.supplied = true;
            f.fact1 = static_cast<uint8_t>(j);
        }
        if (s.flag == SILO && !s.supplied && f.fact2 == NO_SLOT) {
            s.supplied = true;
            f.fact2 = static_cast<uint8_t>(j);
        }
    }
}

}  // namespace

void shuffle() {
    bool taken[NUM_SIDES] = {false, false, false, false};
    for (int i = 0; i < NUM_SIDES; i++) {
        uint16_t t;
        do {
            t = sc_rnd(3);
        } while (taken[t]);
        startcols[i] = sidecols[t];
        taken[t] = true;
    }
    for (weapon& w : item) w.flag = EMPTY;
    for (icbm& s : shot) s.flag = 0;
}

bool initunit() {
    int count[5] = {0, 0, 0, 0, 0};
    for (const weapon& w : item)
        if (w.flag >= CITY && w.flag <= FACTORY) count[w.flag]++;
    if (count[CITY] < num_city * num_players) {
        place_all(CITY);
    } else if (count[SILO] < num_silo * num_players) {
        place_all(SILO);
    } else if (count[SUB] < num_sub * num_players) {
        place_all(SUB);
    } else if (count[FACTORY] < num_factory * num_players) {
        place_all(FACTORY);
    } else {
        return false;
    }
    return true;
}

void startunit(uint8_t team, uint8_t type, uint32_t col1, uint32_t col2) {
    if (team >= num_players || team >= NUM_SIDES) return;
    int i = UNITS_PER_SIDE * team;
    while (i < UNITS_PER_SIDE * (team + 1) && item[i].flag != EMPTY) i++;
    if (i == UNITS_PER_SIDE * (team + 1)) return;
    weapon& w = item[i];
    // The map was checked when the game started: every colour looked for is present.
    for (;;) {
        w.x = sc_rnd(PLACE_X_MAX);
        w.y = sc_rnd(PLACE_Y_MAX);
        plat::Colour c = plat::get_pixel(TactDC, w.x + ICON_CENTRE, w.y + ICON_CENTRE);
        if (c == col1 || c == col2) break;
    }
    w.side = team;
    w.flag = type;
    w.fact1 = w.fact2 = NO_SLOT;
    w.greynow = false;
    w.old_bearing = 0;
    w.old_power = 0;
    w.supplied = false;
    if (type == SILO || type == SUB) w.ammo = MAX_MISSILES;
    if (type == CITY) w.ammo = MAX_CONTENTMENT;
    load_unit_name(i % 20 + team * 80 + (type - 1) * 20, w.name);
    if (type == FACTORY) claim_silos(i, team);
    printunit(static_cast<uint8_t>(i));
}

void pickcapital(uint8_t player) {
    alive[player] = true;
    bool any_city = false;
    for (const weapon& w : item) any_city = any_city || (w.flag == CITY && w.side == player);
    if (!any_city) return;
    for (;;) {
        uint16_t r = sc_rnd(NUM_UNITS);
        if (r >= NUM_UNITS) continue;
        if (item[r].side == player && item[r].flag == CITY) {
            item[r].supplied = true;
            return;
        }
    }
}

void printunit(uint8_t i) {
    const weapon& w = item[i];
    if (w.flag == EMPTY) return;
    plat::Surface* sheet = plat::create_surface();
    plat::select_bitmap(sheet, hPanelgfx);
    paint_icon(WinDC, w, sheet);
    plat::delete_surface(sheet);
}

void printmap(plat::Surface* hDC) {
    plat::Surface* sheet = plat::create_surface();
    plat::select_bitmap(sheet, hPanelgfx);
    for (const weapon& w : item)
        if (w.flag != EMPTY) paint_icon(hDC, w, sheet);
    plat::delete_surface(sheet);
}

void restoreicon(const weapon& w) {
    plat::blit(WinDC, w.x, w.y, ICON_SIZE, ICON_SIZE, FullDC, w.x, w.y, plat::SRCCOPY);
}

void updateback() {
    plat::select_bitmap(MapDC, hMainmap);
    plat::blit(FullDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    printmap(FullDC);
}
