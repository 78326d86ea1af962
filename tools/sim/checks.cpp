// Invariants of the game state: what no tick may break, from the placement of the units to the end
// of the game-over sequence. The tables are left over from the last game on the title screen, so
// they are not looked at there.
#include "tools/sim/checks.h"

#include "model/globals.h"

namespace sim {

namespace {

constexpr int kTrackOffset = 1000;  // missile-space x is map x + 1000
constexpr int kLastFrame = 19;      // the explosion counter reaches 20 only in the tick that frees the slot
constexpr int kLowestBlast = 388;

std::string unit_name(int slot) { return "unit " + std::to_string(slot); }

std::string side_name(int side) { return "side " + std::to_string(side); }

std::string point(int x, int y) {
    std::string text = "(";
    text += std::to_string(x);
    text += ", ";
    text += std::to_string(y);
    text += ")";
    return text;
}

bool in_game() { return timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER; }

// Missiles or contentment within the type's range; factories keep no count.
std::string check_ammo(int slot, const weapon& w) {
    if (w.flag == CITY && w.ammo > MAX_CONTENTMENT)
        return unit_name(slot) + ", a city, has contentment " + std::to_string(w.ammo) + ", outside 0.." +
               std::to_string(MAX_CONTENTMENT);
    if (islauncher(w) && w.ammo > MAX_MISSILES)
        return unit_name(slot) + ", a launcher, holds " + std::to_string(w.ammo) + " missiles, outside 0.." +
               std::to_string(MAX_MISSILES);
    return {};
}

}  // namespace

void StateChecker::new_game() {
    for (Placed& p : placed_) p = Placed{};
}

std::string StateChecker::check() {
    if (timer_mode != MODE_PLACING && !in_game()) return {};
    for (int slot = 0; slot < NUM_UNITS; slot++) {
        std::string broken = check_unit(slot);
        if (!broken.empty()) return broken;
    }
    if (!in_game()) return {};
    std::string broken = check_sides();
    if (broken.empty()) broken = check_shots();
    return broken;
}

std::string StateChecker::check_unit(int slot) {
    const weapon& w = item[slot];
    Placed& p = placed_[slot];
    if (w.flag == EMPTY) {
        p.gone = p.seen;
        return {};
    }
    if (w.flag > FACTORY) return unit_name(slot) + " has the unknown type " + std::to_string(w.flag);
    if (p.gone) return unit_name(slot) + " was filled again after its unit had been destroyed";
    if (!p.seen) {
        if (timer_mode != MODE_PLACING) return unit_name(slot) + " appeared after the placement";
        if (w.side >= num_players || slot / UNITS_PER_SIDE != w.side)
            return unit_name(slot) + " was placed for " + side_name(w.side) + ", outside that side's slots";
        p = Placed{true, false, w.flag, w.side, w.x, w.y};
    }
    if (w.x != p.x || w.y != p.y) return unit_name(slot) + " moved from " + point(p.x, p.y) + " to " + point(w.x, w.y);
    if (w.flag != p.flag)
        return unit_name(slot) + " changed its type from " + std::to_string(p.flag) + " to " + std::to_string(w.flag);
    if (w.side != p.side && w.side != GREY)
        return unit_name(slot) + " went over from " + side_name(p.side) + " to " + side_name(w.side);
    std::string broken = check_ammo(slot, w);
    if (!broken.empty() || !in_game()) return broken;
    if (w.side == GREY && alive[p.side] && !justaborted)
        return unit_name(slot) + " is grey while its " + side_name(p.side) + " is still in the game";
    if (w.side != GREY && !alive[w.side])
        return unit_name(slot) + " still belongs to " + side_name(w.side) + ", which is out of the game";
    return {};
}

std::string StateChecker::check_sides() const {
    int capitals[NUM_SIDES] = {0, 0, 0, 0};
    for (const weapon& w : item)
        if (w.flag == CITY && w.supplied && w.side < NUM_SIDES) capitals[w.side]++;
    int live = 0;
    for (int s = 0; s < NUM_SIDES; s++) {
        if (alive[s] && s >= num_players)
            return side_name(s) + " is alive in a game of " + std::to_string(num_players) + " sides";
        if (capitals[s] > 1) return side_name(s) + " has " + std::to_string(capitals[s]) + " capitals";
        if (alive[s] && capitals[s] == 0) return side_name(s) + " is alive without its capital";
        live += alive[s] ? 1 : 0;
    }
    if (timer_mode == MODE_PLAYING) {
        if (live < 2) return "play goes on with " + std::to_string(live) + " side(s) left";
        if (cur_player >= NUM_SIDES || !alive[cur_player])
            return "the turn is with " + side_name(cur_player) + ", which is out of the game";
    }
    return {};
}

std::string StateChecker::check_shots() {
    for (int i = 0; i < NUM_SHOTS; i++) {
        const icbm& s = shot[i];
        if (!s.flag) continue;
        std::string name = "missile " + std::to_string(i);
        if (s.track.curx < kTrackOffset || s.track.curx >= kTrackOffset + MAP_WIDTH)
            return name + " is at x " + std::to_string(s.track.curx - kTrackOffset) + ", off the map";
        if (s.xdest != s.track.destx - kTrackOffset)
            return name + " has its blast centre x " + std::to_string(s.xdest) + " apart from its track's end x " +
                   std::to_string(s.track.destx - kTrackOffset);
        if (s.ydest < 0 || s.ydest > kLowestBlast)
            return name + " has its blast centre y " + std::to_string(s.ydest) + ", outside 0..388";
        if (s.size > kLastFrame) return name + " is still busy at explosion frame " + std::to_string(s.size);
        if (s.size > 0 && (s.xdest < 0 || s.xdest >= MAP_WIDTH))
            return name + " explodes at x " + std::to_string(s.xdest) + ", outside 0..599";
    }
    return {};
}

}  // namespace sim
