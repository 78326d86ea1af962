// Impacts and damage: the blast that destroys units, the loss of a capital, and the city that
// loses contentment at every arrival.
#include <cmath>

#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "model/random.h"

namespace {

constexpr double kBlastRadius = 10.0;

// A city whose pick has an effect: the capital, or one with contentment left.
bool has_city_to_sadden(uint8_t side) {
    for (const weapon& w : item)
        if (w.flag == CITY && w.side == side && (w.supplied || w.ammo > 0)) return true;
    return false;
}

}  // namespace

void checkhits(int i) {
    icbm& s = shot[i];
    int h = s.size / 2;
    plat::blit(WinDC, s.xdest - h, s.ydest - h, s.size, s.size, FullDC, s.xdest - h, s.ydest - h, plat::SRCCOPY);
    s.flag = 0;
    for (int j = 0; j < NUM_UNITS; j++) {
        weapon& w = item[j];
        if (w.flag == EMPTY) continue;
        double dist = std::hypot(static_cast<double>(s.xdest - (w.x + ICON_CENTRE)),
                                 static_cast<double>(s.ydest - (w.y + ICON_CENTRE)));
        if (!(dist < kBlastRadius)) continue;
        PlayResource("SFXHit");
        checkcity(j);
        checkammo(w.side);
        if (j == cur_unit) findnextunit();
        w.flag = EMPTY;
        updateback();
        restoreicon(w);
    }
    // A side left with nothing to fire on its own turn could never end it: pass the turn. Its next
    // turn eliminates it unless a factory has refilled a silo by then.
    if (timer_mode == MODE_PLAYING && cur_player < NUM_SIDES && alive[cur_player] &&
        !hasloadedlauncher(cur_player))
        nextplayer();
}

void checkcity(int unit) {
    const weapon& w = item[unit];
    for (uint8_t i = 0; i < NUM_SIDES; i++) {
        if (!alive[i]) continue;
        if (i == w.side && w.flag == CITY && w.supplied) {
            noteout(i, OUT_CAPITAL_DESTROYED);
            playerlost(i);
        }
    }
}

void makesadder() {
    // With no side left to play no city can qualify: the search would never end.
    if (cur_player >= NUM_SIDES || !alive[cur_player] || !has_city_to_sadden(cur_player)) return;
    for (;;) {
        uint16_t r = sc_rnd(NUM_UNITS);
        if (r >= NUM_UNITS) continue;
        weapon& w = item[r];
        if (w.flag != CITY || w.side != cur_player) continue;
        if (w.ammo == 0 && w.supplied) {
            noteout(cur_player, OUT_CAPITAL_DESPAIR);
            playerlost(cur_player);
            return;
        }
        if (w.ammo > 0) {
            w.ammo--;
            return;
        }
    }
}
