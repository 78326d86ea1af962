// The computer player replayed draw by draw against a model written from the rules, the cases we
// decided for it, and the invariant checker of the tournaments.
#include <cmath>
#include <random>
#include <string>

#include "game_fixture.h"
// The checker lives with vantor-sim; it is compiled into this test directly.
#include "tools/sim/checks.h"

namespace vantor_test {
namespace {

// The generator, written out again from its definition, counting its draws.
struct Generator {
    uint16_t state;
    long draws = 0;
    uint16_t rnd(uint16_t value) {
        state = static_cast<uint16_t>(state * 9377u + 9439u);
        draws++;
        return value == 0 ? 0 : static_cast<uint16_t>(state % (value + 1u));
    }
};

struct Plan {
    uint8_t unit;
    uint16_t bearing;
    uint16_t power;
};

bool can_fire(int slot, int side) {
    const weapon& w = item[slot];
    return w.side == side && w.ammo > 0 && (w.flag == SILO || w.flag == SUB);
}

bool is_target(int slot, int side) {
    const weapon& w = item[slot];
    return w.side != GREY && w.side != side && w.flag != EMPTY;
}

int integer_sqrt(int n) {
    int r = 0;
    while ((r + 1) * (r + 1) <= n) r++;
    return r;
}

int model_bearing(int dx, int dy) {
    if (dx == 0) return dy > 0 ? 180 : 0;
    if (dy == 0) return dx > 0 ? 90 : 270;
    const double pi = 3.141592654;
    double d = (std::atan2(static_cast<double>(dy), static_cast<double>(dx)) + pi) * 180 / pi;
    return static_cast<int>(d > 90 ? std::floor(d - 90) : std::floor(d + 270));
}

// Draws slot numbers until one passes the test: that slot, or -1 when the 4000th draw ends the
// search unexamined.
template <typename Test>
int model_draw(Generator& g, Test test) {
    for (int n = 1; n <= 4000; n++) {
        int slot = g.rnd(160);
        if (n < 4000 && slot < NUM_UNITS && test(slot)) return slot;
    }
    return -1;
}

// The plan of the rules: up to 50 attempts of a firing unit, a target and two aiming errors.
Plan model_plan(Generator& g, int side, int skill, Plan plan) {
    int dx = 0, dy = 0, power = 0;
    for (int attempt = 0; attempt < 50; attempt++) {
        int i = model_draw(g, [side](int s) { return can_fire(s, side); });
        if (i < 0) return plan;
        plan.unit = static_cast<uint8_t>(i);
        int j = model_draw(g, [side](int s) { return is_target(s, side); });
        if (j < 0) return plan;
        int ex = g.rnd(static_cast<uint16_t>(2 * skill)) - skill;
        int ey = g.rnd(static_cast<uint16_t>(2 * skill)) - skill;
        dx = item[j].x + ex - item[i].x;
        dy = item[j].y + ey - item[i].y;
        power = integer_sqrt(dx * dx + dy * dy) / 3;
        if (power < 100) break;
    }
    plan.bearing = static_cast<uint16_t>(model_bearing(dx, dy));
    plan.power = static_cast<uint16_t>(power > 99 ? 99 : power);
    return plan;
}

Plan current_plan() { return Plan{cpu_unit, cpu_bearing, cpu_power}; }

void expect_plan(const Plan& want, long draws, uint16_t seed_after, const std::string& what) {
    EXPECT_EQ(cpu_unit, want.unit) << what;
    EXPECT_EQ(cpu_bearing, want.bearing) << what;
    EXPECT_EQ(cpu_power, want.power) << what;
    EXPECT_EQ(seed, seed_after) << what << " (" << draws << " draws)";
    EXPECT_EQ(cpu_timer, 0) << what;
}

// What cpuaction works on, as the model keeps it.
struct Turn {
    uint8_t cur_unit;
    uint16_t bearing, power, timer;
    Plan plan;
    uint8_t old_power[NUM_UNITS];
    uint16_t old_bearing[NUM_UNITS];
    bool fired = false;
};

// A jump of the rules: to within 14 of the plan, never outside 0..limit.
uint16_t model_jump(Generator& g, int plan, int limit) {
    int r;
    do {
        r = g.rnd(28) - 14;
    } while (plan + r < 0 || plan + r > limit);
    return static_cast<uint16_t>(plan + r);
}

void model_select(Generator& g, Turn& t, int side) {
    if (t.timer % 20 != 0) return;
    int k;
    do {
        k = g.rnd(160);
    } while (k >= NUM_UNITS || item[k].side != side || item[k].flag == EMPTY || k == t.plan.unit);
    if (g.rnd(1) == 0) {
        // A click: the unit left keeps the panel's settings.
        t.old_power[t.cur_unit] = static_cast<uint8_t>(t.power);
        t.old_bearing[t.cur_unit] = t.bearing;
        t.cur_unit = static_cast<uint8_t>(k);
    } else {
        t.cur_unit = t.plan.unit;
        t.timer = 100;
    }
    t.power = t.old_power[t.cur_unit];
    t.bearing = t.old_bearing[t.cur_unit];
}

// One tick of the computer's turn; false while it waits or turns a dial.
void model_action(Generator& g, Turn& t, int side, int skill) {
    if (!can_fire(t.plan.unit, side)) {
        t.plan = model_plan(g, side, skill, t.plan);
        t.timer = 0;
    }
    t.timer++;
    if (t.timer < 40) return;
    if (t.cur_unit != t.plan.unit) return model_select(g, t, side);
    if (t.bearing != t.plan.bearing) {
        if (std::abs(t.bearing - t.plan.bearing) > 15) {
            if (t.timer < 110) return;
            t.bearing = model_jump(g, t.plan.bearing, 359);
        }
        if (g.rnd(2) != 0 || t.timer < 120) return;
        if (t.bearing != t.plan.bearing) {
            t.bearing = static_cast<uint16_t>(t.bearing + (t.bearing < t.plan.bearing ? 1 : -1));
            return;
        }
    }
    if (t.power != t.plan.power) {
        if (std::abs(t.power - t.plan.power) > 15) {
            if (g.rnd(5) == 0) t.power = model_jump(g, t.plan.power, 99);
        } else if (g.rnd(2) == 0) {
            t.power = static_cast<uint16_t>(t.power + (t.power < t.plan.power ? 1 : -1));
        }
        return;
    }
    t.fired = true;
}

class CpuTest : public GameTest {
protected:
    // A default game of four human sides on Quad, play begun.
    void SetUp() override {
        GameTest::SetUp();
        start_game();
    }

    // Scatters the units over the whole map, empties some launchers and greys some units, so that
    // plans meet rejected attempts, long searches and every bearing. Each side's slots stay its own.
    void scramble(std::mt19937& rng, int empty_percent, int grey_percent) {
        std::uniform_int_distribution<int> px(0, 580), py(0, 380), pct(0, 99);
        for (int i = 0; i < NUM_UNITS; i++) {
            weapon& w = item[i];
            if (w.flag == EMPTY) continue;
            w.x = static_cast<uint16_t>(px(rng));
            w.y = static_cast<uint16_t>(py(rng));
            w.side = static_cast<uint8_t>(pct(rng) < grey_percent ? GREY : i / UNITS_PER_SIDE);
            if (w.flag == SILO || w.flag == SUB) w.ammo = pct(rng) < empty_percent ? 0 : 3;
        }
    }
};

TEST_F(CpuTest, PlansDrawForDrawAsTheRulesSay) {
    std::mt19937 rng(8);
    const int skills[] = {0, 5, 20, 40};
    int rejected = 0, gave_up = 0;
    for (int round = 0; round < 120; round++) {
        if (round % 10 == 0) scramble(rng, round % 30 == 0 ? 100 : 40, 10);
        cur_player = static_cast<uint8_t>(round % 4);
        cpu_skill = static_cast<uint16_t>(skills[round % 4]);
        seed = static_cast<uint16_t>(rng());
        Generator g{seed};
        Plan want = model_plan(g, cur_player, cpu_skill, current_plan());
        cpubrain();
        expect_plan(want, g.draws, g.state, "round " + std::to_string(round));
        rejected += g.draws > 6 && want.power == 99;
        gave_up += g.draws >= 4000;
    }
    // The rounds reached the long paths, not only the first attempt.
    EXPECT_GT(rejected, 0);
    EXPECT_GT(gave_up, 0);
}

TEST_F(CpuTest, SkillZeroAimsAtTheCentreAndStillDrawsTwice) {
    // Slot 40 (side 1's first city) is made the only loaded launcher, slot 0 the only target.
    for (weapon& w : item) {
        if (w.flag == SILO || w.flag == SUB) w.ammo = 0;
        if (w.side != 1 && &w != &item[0]) w.side = GREY;
    }
    item[40].flag = SILO;
    item[40].ammo = 3;
    item[40].x = 300;
    item[40].y = 80;
    cur_player = 1;
    cpu_skill = 0;
    struct Case {
        int dx, dy, bearing, power;
    };
    const Case cases[] = {{0, -60, 0, 20}, {0, 60, 180, 20}, {60, 0, 90, 20},   {-60, 0, 270, 20},
                          {5, -5, 45, 2},   {5, 5, 134, 2},    {-5, 5, 224, 2},   {-5, -5, 315, 2},
                          {0, 0, 0, 0},     {297, 0, 90, 99},  {-297, 0, 270, 99}, {-210, 210, 224, 98}};
    for (const Case& c : cases) {
        item[0].x = static_cast<uint16_t>(300 + c.dx);
        item[0].y = static_cast<uint16_t>(80 + c.dy);
        seed = static_cast<uint16_t>(c.dx * 131 + c.dy);
        Generator g{seed};
        Plan want = model_plan(g, 1, 0, current_plan());
        cpubrain();
        std::string what = "offset " + std::to_string(c.dx) + ", " + std::to_string(c.dy);
        EXPECT_EQ(cpu_bearing, c.bearing) << what;
        EXPECT_EQ(cpu_power, c.power) << what;
        expect_plan(want, g.draws, g.state, what);
    }
}

TEST_F(CpuTest, ThreeHundredPixelsIsRejectedAndTheLastAttemptStands) {
    for (weapon& w : item) {
        if (w.flag == SILO || w.flag == SUB) w.ammo = 0;
        if (w.side != 1 && &w != &item[0]) w.side = GREY;
    }
    item[41].flag = SILO;
    item[41].ammo = 1;
    item[41].x = 100;
    item[41].y = 50;
    item[0].x = 100;
    item[0].y = 350;  // 300 pixels straight below
    cur_player = 1;
    cpu_skill = 0;
    seed = 77;
    Generator g{seed};
    Plan want = model_plan(g, 1, 0, current_plan());
    cpubrain();
    EXPECT_EQ(cpu_unit, 41);
    EXPECT_EQ(cpu_bearing, 180);
    EXPECT_EQ(cpu_power, 99);
    expect_plan(want, g.draws, g.state, "50 rejected attempts");
    EXPECT_GE(g.draws, 50 * 4);
}

TEST_F(CpuTest, GivingUpLeavesThePreviousPlan) {
    cur_player = 2;
    cpu_unit = 7;
    cpu_bearing = 123;
    cpu_power = 45;
    cpu_timer = 77;
    // No loaded launcher: exactly 4000 draws, the last unexamined, and nothing of the plan changes.
    for (weapon& w : item)
        if (w.side == 2 && (w.flag == SILO || w.flag == SUB)) w.ammo = 0;
    seed = 4242;
    Generator g{seed};
    for (int n = 0; n < 4000; n++) g.rnd(160);
    cpubrain();
    expect_plan(Plan{7, 123, 45}, 4000, g.state, "no launcher");

    // No target: the firing unit is set, the bearing and power are left.
    for (int i = 2 * UNITS_PER_SIDE; i < 3 * UNITS_PER_SIDE; i++) {
        if (item[i].flag == SILO) {
            item[i].ammo = 3;
            break;
        }
    }
    for (weapon& w : item)
        if (w.side != 2) w.side = GREY;
    seed = 4242;
    Generator h{seed};
    Plan want = model_plan(h, 2, cpu_skill, current_plan());
    cpubrain();
    EXPECT_TRUE(can_fire(cpu_unit, 2));
    EXPECT_EQ(cpu_bearing, 123);
    EXPECT_EQ(cpu_power, 45);
    expect_plan(want, h.draws, h.state, "no target");
}


TEST_F(CpuTest, TurnsReplayDrawForDrawUntilTheLaunch) {
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> any_bearing(0, 359), any_power(0, 99);
    long ticks = 0;
    int switched = 0, browsed = 0;
    for (int round = 0; round < 40; round++) {
        scramble(rng, 30, 5);
        const int side = round % 4;
        // The side's own units stand apart, so that a click at an icon's centre selects that unit.
        for (int i = side * UNITS_PER_SIDE; i < (side + 1) * UNITS_PER_SIDE; i++) {
            int n = i % UNITS_PER_SIDE;
            item[i].x = static_cast<uint16_t>(30 + 60 * (n % 9));
            item[i].y = static_cast<uint16_t>(40 + 100 * (n / 9));
            item[i].side = static_cast<uint8_t>(side);
            item[i].old_bearing = static_cast<uint16_t>(any_bearing(rng));
            item[i].old_power = static_cast<uint8_t>(any_power(rng));
            if (item[i].flag == SILO) item[i].ammo = 3;
        }
        for (int b = 0; b < NUM_SIDES; b++) {
            alive[b] = true;
            cpu_player[b] = b == side;
        }
        for (icbm& m : shot) m.flag = 0;
        supply = 0;
        cur_player = static_cast<uint8_t>(side);
        cpu_skill = static_cast<uint16_t>(5 * (round % 9));
        cur_unit = static_cast<uint8_t>(side * UNITS_PER_SIDE + round % 27);
        bearing = static_cast<uint16_t>(any_bearing(rng));
        power = static_cast<uint16_t>(any_power(rng));
        // The first tick plans: the planned slot is an emptied one.
        cpu_unit = static_cast<uint8_t>(side * UNITS_PER_SIDE + 39);
        seed = static_cast<uint16_t>(rng());

        Turn t{cur_unit, bearing, power, 0, current_plan(), {}, {}, false};
        for (int i = 0; i < NUM_UNITS; i++) {
            t.old_power[i] = item[i].old_power;
            t.old_bearing[i] = item[i].old_bearing;
        }
        Generator g{seed};
        bool was_planned_selected = false;
        for (int n = 0; n < 5000 && !t.fired; n++, ticks++) {
            uint8_t before = t.cur_unit;
            model_action(g, t, side, cpu_skill);
            if (n == 0 && round % 3 == 0) {
                // Every third round begins with the planned unit already selected.
                cpuaction();
                cur_unit = cpu_unit;
                bearing = item[cpu_unit].old_bearing;
                power = item[cpu_unit].old_power;
                t.cur_unit = t.plan.unit;
                t.bearing = bearing;
                t.power = power;
                was_planned_selected = true;
            } else {
                cpuaction();
            }
            if (!t.fired) {
                std::string at = "round " + std::to_string(round) + " tick " + std::to_string(n);
                ASSERT_EQ(seed, g.state) << at;
                ASSERT_EQ(cpu_timer, t.timer) << at;
                ASSERT_EQ(cur_unit, t.cur_unit) << at;
                ASSERT_EQ(bearing, t.bearing) << at;
                ASSERT_EQ(power, t.power) << at;
                ASSERT_EQ(cpu_unit, t.plan.unit) << at;
                ASSERT_EQ(cpu_bearing, t.plan.bearing) << at;
                ASSERT_EQ(cpu_power, t.plan.power) << at;
            }
            switched += before != t.cur_unit && t.timer == 100;
            browsed += before != t.cur_unit && t.timer != 100 && n > 0;
        }
        ASSERT_TRUE(t.fired) << "round " << round;
        EXPECT_EQ(seed, g.state) << "round " << round;
        EXPECT_NE(cur_player, side) << "the launch passes the turn";
        // Browsing stored the panel into each unit it left; nothing else changed what units remember.
        t.old_bearing[t.plan.unit] = t.plan.bearing;
        t.old_power[t.plan.unit] = static_cast<uint8_t>(t.plan.power);
        for (int i = side * UNITS_PER_SIDE; i < (side + 1) * UNITS_PER_SIDE; i++) {
            EXPECT_EQ(item[i].old_bearing, t.old_bearing[i]) << "round " << round << " slot " << i;
            EXPECT_EQ(item[i].old_power, t.old_power[i]) << "round " << round << " slot " << i;
        }
        EXPECT_EQ(item[t.plan.unit].ammo, 2);
        EXPECT_TRUE(was_planned_selected || round % 3 != 0);
    }
    EXPECT_GT(switched, 0);
    EXPECT_GT(browsed, 0);
    EXPECT_GT(ticks, 40 * 40);
}

TEST_F(CpuTest, PlansAgainRatherThanFireFromAUnitItCannotUse) {
    cpu_player[1] = true;
    cur_player = 1;
    cpu_timer = 0;
    // The last plan named side 0's loaded silo (its first silo follows the 15 cities).
    const int theirs = 15;
    ASSERT_EQ(item[theirs].flag, SILO);
    cpu_unit = theirs;
    cpuaction();
    EXPECT_TRUE(can_fire(cpu_unit, 1));
    EXPECT_EQ(cpu_timer, 1);
    // Its own silo, emptied: planned again as well.
    item[cpu_unit].ammo = 0;
    uint8_t emptied = cpu_unit;
    cpuaction();
    EXPECT_NE(cpu_unit, emptied);
    EXPECT_TRUE(can_fire(cpu_unit, 1));
    EXPECT_EQ(item[theirs].ammo, 3);
}

TEST_F(CpuTest, WaitsForAFreeMissileSlotWithoutTakingAMissile) {
    cpu_player[2] = true;
    cur_player = 2;
    cpubrain();
    cur_unit = cpu_unit;
    bearing = cpu_bearing;
    power = cpu_power;
    for (icbm& m : shot) m.flag = 1;
    const uint8_t ammo = item[cpu_unit].ammo;
    for (int n = 0; n < 100; n++) cpuaction();
    EXPECT_EQ(cpu_timer, 100);
    EXPECT_EQ(item[cpu_unit].ammo, ammo);
    EXPECT_EQ(cur_player, 2);
    shot[31].flag = 0;
    cpuaction();
    EXPECT_EQ(item[cpu_unit].ammo, ammo - 1);
    EXPECT_EQ(shot[31].flag, 1);
    EXPECT_NE(cur_player, 2);
}

// The checker of vantor-sim --check: quiet over whole games, loud at each broken invariant.
class CheckerTest : public GameTest {
protected:
    // Starts a game of computer sides, checking every placement tick.
    void start_checked(int players) {
        to_title();
        num_players = static_cast<uint8_t>(players);
        for (bool& cpu : cpu_player) cpu = true;
        checker_.new_game();
        click(380, 340);
        ASSERT_EQ(timer_mode, MODE_PLACING);
        while (timer_mode == MODE_PLACING) {
            tick();
            ASSERT_EQ(checker_.check(), "");
        }
    }

    // The message names what is broken.
    void expect_broken(const std::string& words) {
        std::string broken = checker_.check();
        EXPECT_NE(broken.find(words), std::string::npos) << "got \"" << broken << "\", wanted " << words;
    }

    sim::StateChecker checker_;
};

TEST_F(CheckerTest, WholeComputerGamesKeepEveryInvariant) {
    for (int players = 2; players <= 4; players++) {
        start_checked(players);
        long ticks = 0;
        while (timer_mode != MODE_TITLE && ticks < 200000) {
            tick();
            ticks++;
            ASSERT_EQ(checker_.check(), "") << players << " players, tick " << ticks;
        }
        ASSERT_EQ(timer_mode, MODE_TITLE);
    }
}

TEST_F(CheckerTest, CatchesUnitsThatMoveChangeOrComeBack) {
    start_checked(4);
    weapon& w = item[20];
    const uint8_t type = w.flag;
    w.x++;
    expect_broken("unit 20 moved from");
    w.x--;
    w.flag = static_cast<uint8_t>(type == CITY ? FACTORY : CITY);
    expect_broken("unit 20 changed its type");
    w.flag = type;
    EXPECT_EQ(checker_.check(), "");
    w.side = 1;
    expect_broken("unit 20 went over from side 0 to side 1");
    w.side = 0;
    w.flag = EMPTY;
    EXPECT_EQ(checker_.check(), "");
    w.flag = type;
    expect_broken("unit 20 was filled again");
    w.flag = EMPTY;
    item[35].flag = CITY;  // a slot placement left empty
    item[35].side = 0;
    expect_broken("unit 35 appeared after the placement");
}

TEST_F(CheckerTest, CatchesCountsOutOfRange) {
    start_checked(4);
    item[0].ammo = 3;
    expect_broken("unit 0, a city, has contentment 3");
    item[0].ammo = 2;
    item[15].ammo = 4;
    expect_broken("unit 15, a launcher, holds 4 missiles");
    item[15].ammo = 0;
    EXPECT_EQ(checker_.check(), "");
}

TEST_F(CheckerTest, CatchesCapitalsAndSides) {
    start_checked(3);
    int capital = -1, other = -1;
    for (int i = UNITS_PER_SIDE; i < 2 * UNITS_PER_SIDE; i++) {
        if (item[i].flag != CITY) continue;
        (item[i].supplied ? capital : other) = i;
    }
    ASSERT_GE(capital, 0);
    ASSERT_GE(other, 0);
    item[other].supplied = true;
    expect_broken("side 1 has 2 capitals");
    item[other].supplied = false;
    item[capital].supplied = false;
    expect_broken("side 1 is alive without its capital");
    item[capital].supplied = true;
    alive[3] = true;
    expect_broken("side 3 is alive in a game of 3 sides");
    alive[3] = false;
    item[other].side = GREY;
    expect_broken("is grey while its side 1 is still in the game");
    item[other].side = 1;
    alive[1] = false;
    expect_broken("still belongs to side 1, which is out of the game");
    alive[1] = true;
    EXPECT_EQ(checker_.check(), "");
    // The abort turns everything grey at once, live sides included: no complaint.
    click(300, 430);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_EQ(checker_.check(), "");
}

TEST_F(CheckerTest, CatchesTheSideToPlayOutOfTheGame) {
    start_checked(2);
    for (weapon& w : item)
        if (w.side == cur_player) w.side = GREY;
    alive[cur_player] = false;
    alive[2] = alive[3] = false;
    expect_broken("play goes on with 1 side(s) left");
}

TEST_F(CheckerTest, CatchesMissilesOffTheMap) {
    start_checked(2);
    icbm& m = shot[3];
    m.track.init_motion(1100, 100, 0, 1700, 100, 62);  // 600 to the right: wraps to 100
    m.xdest = 700;
    m.ydest = 100;
    m.size = 0;
    m.flag = 1;
    EXPECT_EQ(checker_.check(), "") << "in flight, the blast centre may lie beyond the edge";
    m.size = 1;
    expect_broken("missile 3 explodes at x 700");
    m.size = 0;
    m.xdest = 690;
    expect_broken("missile 3 has its blast centre x 690 apart from its track's end x 700");
    m.xdest = 700;
    m.ydest = 389;
    expect_broken("blast centre y 389");
    m.ydest = 100;
    m.size = 20;
    expect_broken("still busy at explosion frame 20");
    m.size = 0;
    m.track.curx = 999;
    expect_broken("missile 3 is at x -1, off the map");
}

}  // namespace
}  // namespace vantor_test
