// Missile launch and flight: the track from launcher to target, the trail, the wrap across the
// map's east-west edge, and the explosion frames after arrival.
#include <cmath>

#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"

namespace {

constexpr int kOffset = 1000;  // missile-space x is map x + 1000, so that x stays positive
constexpr uint16_t kArcSteps = 62;

// The lowest missile slot not in use, or -1 when every one is.
int free_shot_slot() {
    for (int i = 0; i < NUM_SHOTS; i++)
        if (shot[i].flag == 0) return i;
    return -1;
}

}  // namespace

bool launchmissile() {
    weapon& w = item[cur_unit];
    // With every missile slot in use nothing can be launched: the missile and the turn are kept.
    if (!loadedlauncher(w, cur_player) || free_shot_slot() < 0) return false;
    w.ammo--;
    w.old_power = static_cast<uint8_t>(power);
    w.old_bearing = bearing;
    PlayResource("SFXMissilelaunch");
    clearnews();
    startshot();
    return true;
}

void startshot() {
    int slot = free_shot_slot();
    if (slot < 0) return;
    icbm& s = shot[slot];
    auto x = static_cast<uint16_t>(item[cur_unit].x + ICON_CENTRE);
    auto y = static_cast<uint16_t>(item[cur_unit].y + ICON_CENTRE);
    int d = 180 - bearing;
    if (d < 0) d += 360;
    double rad = d * PI * 0.005555555555555556;
    auto dx = static_cast<int16_t>(std::sin(rad) * power * RANGE_PER_POWER + x);
    auto dy = static_cast<int16_t>(std::cos(rad) * power * RANGE_PER_POWER + y);
    if (dy < 0) dy = 0;
    if (dy > SHOT_Y_MAX) dy = SHOT_Y_MAX;
    s.xdest = dx;
    s.ydest = dy;
    s.track.init_motion(static_cast<uint16_t>(x + kOffset), y, 0, static_cast<uint16_t>(dx + kOffset),
                        static_cast<uint16_t>(dy), kArcSteps);
    s.flag = 1;
    s.size = 0;
    for (int k = 0; k < TRAIL_LENGTH; k++) {
        s.xco[k] = -1;
        s.yco[k] = 0;
        s.col[k] = 0;
    }
    nextplayer();
}

namespace {

void fly(icbm& s, int16_t plotx, int16_t ploty) {
    s.xco[TRAIL_LENGTH - 1] = plotx;
    s.yco[TRAIL_LENGTH - 1] = static_cast<uint16_t>(ploty);
    s.col[TRAIL_LENGTH - 1] = plat::get_pixel(FullDC, plotx, static_cast<uint16_t>(ploty));
    plat::set_pixel(WinDC, plotx, static_cast<uint16_t>(ploty), WHITE);
    s.track.move_one_square();
    // Keep the missile over the map: the track and the blast centre cross the edge together.
    int shift = 0;
    if (s.track.curx < kOffset) shift = MAP_WIDTH;
    if (s.track.curx > kOffset + MAP_WIDTH - 1) shift = -MAP_WIDTH;
    s.track.curx = static_cast<int16_t>(s.track.curx + shift);
    s.track.destx = static_cast<int16_t>(s.track.destx + shift);
    s.xdest = static_cast<int16_t>(s.xdest + shift);
}

// One tick after arrival: the trail drains, the boom and the lost contentment come on the first
// tick, frames 1 to 19 follow, and the impact is resolved once the trail is gone.
void explode(int i) {
    icbm& s = shot[i];
    s.xco[TRAIL_LENGTH - 1] = -1;
    s.size++;
    if (s.xco[0] == -1) {
        checkhits(i);
        return;
    }
    // Entry 18 still holds a flight point only on the first tick: the last one has just moved there.
    if (s.xco[TRAIL_LENGTH - 2] != -1) {
        makesadder();
        PlayResource("SFXBoom");
    }
    int h = s.size / 2;
    plat::blit(WinDC, s.xdest - h - 2, s.ydest - h - 2, s.size + 4, s.size + 4, FullDC, s.xdest - h - 2,
               s.ydest - h - 2, plat::SRCCOPY);
    plat::select_bitmap(MapDC, hPanelgfx);
    plat::blit(WinDC, s.xdest - 10, s.ydest - 10, 20, 20, MapDC, 60, s.size * 20, plat::SRCPAINT);
}

}  // namespace

void moveshots() {
    for (int i = 0; i < NUM_SHOTS; i++) {
        icbm& s = shot[i];
        if (!s.flag) continue;
        auto plotx = static_cast<int16_t>(s.track.curx - kOffset);
        double t = std::sin(s.track.curz * 0.05) * 25.0;
        auto ploty = static_cast<int16_t>(s.track.cury - t);
        // Restore the oldest trail pixel; a point above the map reads back as a large y and restores nothing.
        if (s.xco[0] != -1) plat::set_pixel(WinDC, s.xco[0], s.yco[0], s.col[0]);
        for (int k = 0; k < TRAIL_LENGTH - 1; k++) {
            s.xco[k] = s.xco[k + 1];
            s.yco[k] = s.yco[k + 1];
            s.col[k] = s.col[k + 1];
        }
        if (!s.track.at_destination()) {
            fly(s, plotx, ploty);
        } else {
            explode(i);
        }
    }
}
