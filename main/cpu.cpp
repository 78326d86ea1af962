// The computer player: plans one shot at the start of its turn, then carries it out tick by tick
// through the same controls a human uses, in sight of the players.
#include <cmath>

#include "main/main.h"
#include "model/bearing.h"
#include "model/globals.h"
#include "model/layout.h"
#include "model/random.h"

namespace {

// Planning: slot draws before it gives up, and targets tried before it settles for full power.
constexpr int kMaxDraws = 4000;
constexpr int kMaxAttempts = 50;

// The turn's schedule in ticks of cpu_timer: it waits, then every 20 ticks browses to another unit
// or switches to the planned one (which sets the timer to 100); the bearing may jump from 110 on,
// and the arrow buttons are pressed from 120 on.
constexpr uint16_t kFirstMove = 40;
constexpr uint16_t kBrowsePeriod = 20;
constexpr uint16_t kSwitched = 100;
constexpr uint16_t kBearingJump = 110;
constexpr uint16_t kFirstPress = 120;

// A setting further than 15 from the plan jumps to within 14 of it; closer, it is stepped.
constexpr int kJumpBeyond = 15;
constexpr int kJumpSpread = 14;

// Draws slots until one passes the test; false once the 4000th draw is reached, unexamined.
template <typename Test>
bool draw_slot(uint16_t* slot, Test test) {
    for (int redo2 = 1;; redo2++) {
        uint16_t i = sc_rnd(NUM_UNITS);
        if (redo2 >= kMaxDraws) return false;
        if (i < NUM_UNITS && test(item[i])) {
            *slot = i;
            return true;
        }
    }
}

// A jump of bearing or power to within 14 of the plan, never outside 0..limit.
uint16_t jump_near(uint16_t target, int limit) {
    int r;
    do {
        r = static_cast<int>(sc_rnd(2 * kJumpSpread)) - kJumpSpread;
    } while (target + r < 0 || target + r > limit);
    return static_cast<uint16_t>(target + r);
}

bool beyond_jump(int setting, int plan) { return setting - plan > kJumpBeyond || setting - plan < -kJumpBeyond; }

// Browses to another unit of the side, or switches straight to the planned one.
void select_step(uint16_t t) {
    if (t % kBrowsePeriod != 0) return;
    bool any = false;
    for (int i = 0; i < NUM_UNITS; i++)
        any = any || (item[i].side == cur_player && item[i].flag != EMPTY && i != cpu_unit);
    if (!any) return;  // a live side always has its capital; this only guards a broken state
    uint16_t k;
    do {
        k = sc_rnd(NUM_UNITS);
    } while (k >= NUM_UNITS || item[k].side != cur_player || item[k].flag == EMPTY || k == cpu_unit);
    if (sc_rnd(1) == 0) {
        clickunit(static_cast<uint16_t>(item[k].x + ICON_CENTRE), static_cast<uint16_t>(item[k].y + ICON_CENTRE));
        return;
    }
    erasecursor(cur_unit);
    PlayResource("SFXCursor");
    selectunit(cpu_unit);
    cpu_timer = kSwitched;
}

// The computer clicks an arrow on its top edge, so many pixels in from its left edge.
void click(const Rect& arrow, int in_x) {
    clickpanel(static_cast<uint16_t>(arrow.x0 + in_x), static_cast<uint16_t>(arrow.y0));
}

// Returns true when the bearing is on the plan and the power may be turned in the same tick.
bool bearing_step(uint16_t t) {
    if (beyond_jump(bearing, cpu_bearing)) {
        if (t < kBearingJump) return false;
        PlayResource("SFXClick");
        bearing = jump_near(cpu_bearing, 359);
        printpanel();
    }
    if (sc_rnd(2) != 0 || t < kFirstPress) return false;
    if (bearing < cpu_bearing) {
        click(BEARING_UP, 5);
        return false;
    }
    if (bearing > cpu_bearing) {
        click(BEARING_DOWN, 10);
        return false;
    }
    return true;
}

void power_step() {
    if (beyond_jump(power, cpu_power)) {
        if (sc_rnd(5) != 0) return;
        PlayResource("SFXClick");
        power = jump_near(cpu_power, MAX_POWER);
        printpanel();
        return;
    }
    if (sc_rnd(2) != 0) return;
    if (power < cpu_power) {
        click(POWER_UP, 10);
    } else {
        click(POWER_DOWN, 5);
    }
}

}  // namespace

void cpubrain() {
    cpu_timer = 0;
    int dx = 0, dy = 0;
    for (int redo = 0; redo < kMaxAttempts; redo++) {
        uint16_t i, j;
        if (!draw_slot(&i, [](const weapon& w) { return loadedlauncher(w, cur_player); })) return;
        cpu_unit = static_cast<uint8_t>(i);
        if (!draw_slot(&j, [](const weapon& w) { return w.side != GREY && w.side != cur_player && w.flag != EMPTY; }))
            return;
        int x = item[j].x + ICON_CENTRE + (static_cast<int>(sc_rnd(static_cast<uint16_t>(2 * cpu_skill))) - cpu_skill);
        int y = item[j].y + ICON_CENTRE + (static_cast<int>(sc_rnd(static_cast<uint16_t>(2 * cpu_skill))) - cpu_skill);
        dx = x - (item[i].x + ICON_CENTRE);
        dy = y - (item[i].y + ICON_CENTRE);
        // Squares in double: exact for any pair of positions, where int could overflow.
        double distance = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        cpu_power = static_cast<uint16_t>(static_cast<int>(distance) / RANGE_PER_POWER);
        if (cpu_power <= MAX_POWER) break;
    }
    cpu_bearing = compassbearing<double>(dx, dy);
    if (cpu_power > MAX_POWER) cpu_power = MAX_POWER;
    printpanel();
}

void cpuaction() {
    if (!cpu_player[cur_player]) return;
    // Plan again when the planned unit is gone, or when the last plan gave up and left a unit
    // that cannot fire for this side.
    if (item[cpu_unit].flag == EMPTY || !loadedlauncher(item[cpu_unit], cur_player)) cpubrain();
    cpu_timer++;
    blankicons();
    uint16_t t = cpu_timer;
    if (t < kFirstMove) return;
    if (cur_unit != cpu_unit) {
        select_step(t);
        return;
    }
    if (bearing != cpu_bearing && !bearing_step(t)) return;
    if (power != cpu_power) {
        power_step();
        return;
    }
    launchmissile();
}
