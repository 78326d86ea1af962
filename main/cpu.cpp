// The computer player: plans one shot at the start of its turn, then carries it out tick by tick
// through the same controls a human uses, in sight of the players.
#include <cmath>

#include "main/main.h"
#include "model/globals.h"
#include "model/random.h"

namespace {

constexpr int kMaxDraws = 4000;
constexpr int kMaxAttempts = 50;
constexpr double kPi = 3.141592654;

// Draws slots until one passes the test; false once the 4000th draw is reached, unexamined.
template <typename Test>
bool draw_slot(uint16_t* slot, Test test) {
    for (int redo2 = 1;; redo2++) {
        uint16_t i = sc_rnd(160);
        if (redo2 >= kMaxDraws) return false;
        if (i < NUM_UNITS && test(item[i])) {
            *slot = i;
            return true;
        }
    }
}

uint16_t aim_bearing(int dx, int dy) {
    if (dx == 0) return dy <= 0 ? 0 : 180;
    if (dy == 0) return dx > 0 ? 90 : 270;
    double phi = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    double d = (phi + kPi) * 180 / kPi;
    return static_cast<uint16_t>(d > 90 ? std::floor(d - 90) : std::floor(d + 270));
}

bool loaded_launcher_of(const weapon& w, uint8_t side) {
    return w.side == side && w.ammo > 0 && (w.flag == SILO || w.flag == SUB);
}

bool free_missile_slot() {
    for (const icbm& s : shot)
        if (s.flag == 0) return true;
    return false;
}

// A jump of bearing or power to within 14 of the plan, never outside 0..limit.
uint16_t jump_near(uint16_t target, int limit) {
    int r;
    do {
        r = static_cast<int>(sc_rnd(28)) - 14;
    } while (target + r < 0 || target + r > limit);
    return static_cast<uint16_t>(target + r);
}

// Browses to another unit of the side, or switches straight to the planned one.
void select_step(uint16_t t) {
    if (t % 20 != 0) return;
    bool any = false;
    for (int i = 0; i < NUM_UNITS; i++)
        any = any || (item[i].side == cur_player && item[i].flag != EMPTY && i != cpu_unit);
    if (!any) return;  // a live side always has its capital; this only guards a broken state
    uint16_t k;
    do {
        k = sc_rnd(160);
    } while (k >= NUM_UNITS || item[k].side != cur_player || item[k].flag == EMPTY || k == cpu_unit);
    if (sc_rnd(1) == 0) {
        clickunit(static_cast<uint16_t>(item[k].x + 4), static_cast<uint16_t>(item[k].y + 4));
        return;
    }
    const weapon& was = item[cur_unit];
    plat::blit(WinDC, was.x - 2, was.y - 2, 13, 13, FullDC, was.x - 2, was.y - 2, plat::SRCCOPY);
    cur_unit = cpu_unit;
    PlayResource("SFXCursor");
    power = item[cur_unit].old_power;
    bearing = item[cur_unit].old_bearing;
    printpanel();
    cpu_timer = 100;
}

// Returns true when the bearing is on the plan and the power may be turned in the same tick.
bool bearing_step(uint16_t t) {
    int diff = static_cast<int>(bearing) - static_cast<int>(cpu_bearing);
    if (diff > 15 || diff < -15) {
        if (t < 110) return false;
        PlayResource("SFXClick");
        bearing = jump_near(cpu_bearing, 359);
        printpanel();
    }
    if (sc_rnd(2) != 0 || t < 120) return false;
    if (bearing < cpu_bearing) {
        clickpanel(450, 430);
        return false;
    }
    if (bearing > cpu_bearing) {
        clickpanel(430, 430);
        return false;
    }
    return true;
}

void power_step() {
    int diff = static_cast<int>(power) - static_cast<int>(cpu_power);
    if (diff > 15 || diff < -15) {
        if (sc_rnd(5) != 0) return;
        PlayResource("SFXClick");
        power = jump_near(cpu_power, 99);
        printpanel();
        return;
    }
    if (sc_rnd(2) != 0) return;
    if (power < cpu_power) {
        clickpanel(510, 430);
    } else {
        clickpanel(480, 430);
    }
}

void launch() {
    weapon& w = item[cur_unit];
    // Never fire what is not there; with every missile slot in flight, wait for one to come free.
    if (!loaded_launcher_of(w, cur_player) || !free_missile_slot()) return;
    w.ammo--;
    w.old_power = static_cast<uint8_t>(power);
    w.old_bearing = bearing;
    PlayResource("SFXMissilelaunch");
    startshot();
}

}  // namespace

void cpubrain() {
    cpu_timer = 0;
    int dx = 0, dy = 0;
    for (int redo = 0; redo < kMaxAttempts; redo++) {
        uint16_t i, j;
        if (!draw_slot(&i, [](const weapon& w) {
                return w.side == cur_player && w.ammo > 0 && (w.flag == SILO || w.flag == SUB);
            }))
            return;
        cpu_unit = static_cast<uint8_t>(i);
        if (!draw_slot(&j, [](const weapon& w) { return w.side != GREY && w.side != cur_player && w.flag != EMPTY; }))
            return;
        int x = item[j].x + 4 + (static_cast<int>(sc_rnd(static_cast<uint16_t>(2 * cpu_skill))) - cpu_skill);
        int y = item[j].y + 4 + (static_cast<int>(sc_rnd(static_cast<uint16_t>(2 * cpu_skill))) - cpu_skill);
        dx = x - (item[i].x + 4);
        dy = y - (item[i].y + 4);
        // Squares in double: exact for any pair of positions, where int could overflow.
        double distance = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        cpu_power = static_cast<uint16_t>(static_cast<int>(distance) / 3);
        if (cpu_power <= 99) break;
    }
    cpu_bearing = aim_bearing(dx, dy);
    if (cpu_power > 99) cpu_power = 99;
    printpanel();
}

void cpuaction() {
    if (!cpu_player[cur_player]) return;
    // Plan again when the planned unit is gone, or when the last plan gave up and left a unit
    // that cannot fire for this side.
    if (item[cpu_unit].flag == EMPTY || !loaded_launcher_of(item[cpu_unit], cur_player)) cpubrain();
    cpu_timer++;
    blankicons();
    uint16_t t = cpu_timer;
    if (t < 40) return;
    if (cur_unit != cpu_unit) {
        select_step(t);
        return;
    }
    if (bearing != cpu_bearing && !bearing_step(t)) return;
    if (power != cpu_power) {
        power_step();
        return;
    }
    launch();
}
