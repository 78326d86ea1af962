// Missile launch and flight: the target a bearing and power give, the length of a flight, the wrap
// across the east-west edge, the trail, the arrival sequence and the fire control with no free slot.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "game_fixture.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

constexpr int kFireX = 575;
constexpr int kFireY = 430;

// A game of two human sides whose units the tests set out themselves: each side keeps only its
// capital in a top corner and a loaded submarine in a bottom corner, away from every shot.
class MissileTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        if (HasFatalFailure()) return;
        num_players = 2;
        start_game();
        if (HasFatalFailure()) return;
        for (weapon& w : item) w.flag = EMPTY;
        for (icbm& s : shot) s.flag = 0;
        put(0, CITY, 0, 20, 20, 2).supplied = true;
        put(40, CITY, 1, 580, 20, 2).supplied = true;
        put(39, SUB, 0, 20, 380, 3);
        put(79, SUB, 1, 580, 380, 3);
        cur_player = 0;
        cur_unit = 0;
        redraw();
        plat::clear_sound_log();
    }

    // Puts a unit into a slot with its icon centred on (cx, cy).
    static weapon& put(int slot, uint8_t flag, uint8_t side, int cx, int cy, uint8_t ammo) {
        return put_unit(slot, flag, side, cx - 4, cy - 4, ammo);
    }

    // Rebuilds the clean map and shows it, as the window would look after a repaint.
    static void redraw() {
        updateback();
        plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    }

    // The side owning the launcher in slot presses fire with that launcher selected.
    void fire(int slot, uint16_t b, uint16_t p) {
        cur_player = item[slot].side;
        cur_unit = static_cast<uint8_t>(slot);
        bearing = b;
        power = p;
        click(kFireX, kFireY);
    }

    static int sounds(const char* name) {
        int n = 0;
        for (const std::string& s : plat::sound_log()) n += s == name;
        return n;
    }

    static int contentment(uint8_t side) {
        int sum = 0;
        for (const weapon& w : item)
            if (w.flag == CITY && w.side == side) sum += w.ammo;
        return sum;
    }

    // Ticks until slot i shows its first explosion frame; returns the ticks of the flight proper.
    int ticks_to_arrival(int i) {
        int n = 0;
        while (shot[i].flag && shot[i].size == 0 && n < 1000) {
            tick();
            n++;
        }
        return n - 1;
    }
};

// Where a launch from an icon centre with a bearing and a power comes down. The expected targets
// were worked out by hand in double precision with pi as 3.141592654 and truncation toward zero.
struct Aim {
    int cx, cy;
    uint16_t bearing, power;
    int xdest, ydest;
    const char* why;
};

const Aim kAims[] = {
    {500, 100, 90, 99, 797, 99, "cos(90) is a hair below 0: one pixel up"},
    {300, 200, 0, 99, 299, 0, "sin(180) is a hair above 0: one pixel left; y clamped to 0"},
    {300, 200, 180, 99, 300, 388, "sin(0) is exactly 0; y clamped to 388"},
    {14, 200, 120, 50, 143, 274, "full precision pi or single precision give 275"},
    {14, 100, 260, 50, -133, 126, "-133.7 truncates toward zero, not down to -134"},
    {20, 100, 270, 50, -130, 100, "beyond the left edge; full precision pi gives y 99"},
    {14, 200, 90, 33, 113, 199, "full precision pi gives y 200"},
    {300, 200, 30, 10, 314, 174, "sin(30) is a hair below 0.5 in double precision; 0.5 in single"},
    {300, 200, 359, 99, 294, 0, "bearings above 180 turn the other way"},
    {300, 200, 45, 0, 300, 200, "power 0 comes down on the launcher"},
};

TEST_F(MissileTest, TargetFollowsBearingAndPowerExactly) {
    for (const Aim& a : kAims) {
        SCOPED_TRACE(a.why);
        shot[0].flag = 0;
        put(1, SILO, 0, a.cx, a.cy, 3);
        cur_player = 0;
        cur_unit = 1;
        bearing = a.bearing;
        power = a.power;
        startshot();
        const icbm& s = shot[0];
        ASSERT_EQ(s.flag, 1);
        EXPECT_EQ(s.xdest, a.xdest);
        EXPECT_EQ(s.ydest, a.ydest);
        EXPECT_EQ(s.size, 0);
        EXPECT_EQ(s.track.curx, a.cx + 1000);
        EXPECT_EQ(s.track.cury, a.cy);
        EXPECT_EQ(s.track.curz, 0);
        EXPECT_EQ(s.track.destx, a.xdest + 1000);
        EXPECT_EQ(s.track.desty, a.ydest);
        for (int k = 0; k < TRAIL_LENGTH; k++) EXPECT_EQ(s.xco[k], -1);
        EXPECT_EQ(cur_player, 1) << "the launch passes the turn";
    }
}

TEST_F(MissileTest, LaunchTakesTheLowestFreeSlot) {
    put(1, SILO, 0, 300, 200, 3);
    shot[0].flag = 1;
    shot[2].flag = 1;
    fire(1, 90, 10);
    EXPECT_EQ(shot[1].flag, 1);
    EXPECT_EQ(shot[1].xdest, 330);
    EXPECT_EQ(shot[3].flag, 0);
}

TEST_F(MissileTest, FlightLastsTheLargestOfXDistanceYDistanceAnd62) {
    struct Flight {
        int cx, cy;
        uint16_t bearing, power;
        int ticks;
    };
    const Flight flights[] = {
        {300, 100, 0, 0, 62},     // the arc alone
        {300, 100, 45, 10, 62},   // 21 and 22 pixels: still the arc
        {100, 100, 90, 99, 297},  // x distance
        {300, 100, 180, 80, 240}, // y distance
        {300, 150, 180, 80, 238}, // y distance after the clamp to 388
        {300, 100, 225, 70, 149}, // x 149 against y 148
        {500, 100, 90, 99, 297},  // across the east edge: measured unwrapped
        {20, 100, 270, 50, 150},  // across the west edge
    };
    for (const Flight& f : flights) {
        SCOPED_TRACE(testing::Message() << "bearing " << f.bearing << " power " << f.power);
        for (icbm& s : shot) s.flag = 0;
        item[0].ammo = item[40].ammo = 2;  // so that no arrival finds a capital without contentment
        put(1, SILO, 0, f.cx, f.cy, 3);
        fire(1, f.bearing, f.power);
        ASSERT_EQ(shot[0].flag, 1);
        EXPECT_EQ(ticks_to_arrival(0), f.ticks);
    }
}

TEST_F(MissileTest, WrapMovesTrackAndBlastCentreTogether) {
    struct Crossing {
        int cx;
        uint16_t bearing;
        int xdest_before, xdest_after;
        int crossing_tick;
    };
    const Crossing crossings[] = {
        {500, 90, 797, 197, 100},  // 1500 + 100 = 1600 is past the last column
        {20, 270, -130, 470, 21},  // 1020 - 21 = 999 is before the first
    };
    for (const Crossing& c : crossings) {
        SCOPED_TRACE(testing::Message() << "bearing " << c.bearing);
        for (icbm& s : shot) s.flag = 0;
        item[0].ammo = item[40].ammo = 2;
        put(1, SILO, 0, c.cx, 100, 3);
        fire(1, c.bearing, c.bearing == 90 ? 99 : 50);
        const icbm& s = shot[0];
        int remaining = s.track.destx - s.track.curx;
        for (int t = 1; !s.track.at_destination(); t++) {
            tick();
            // The map x stays on the map, and the target stays as far ahead as before, less one step.
            ASSERT_GE(s.track.curx, 1000);
            ASSERT_LE(s.track.curx, 1599);
            ASSERT_EQ(s.xdest, s.track.destx - 1000);
            int now = s.track.destx - s.track.curx;
            ASSERT_EQ(std::abs(now), std::abs(remaining) - 1);
            remaining = now;
            EXPECT_EQ(s.xdest, t < c.crossing_tick ? c.xdest_before : c.xdest_after) << "tick " << t;
        }
    }
}

// Every white pixel on the window that the clean map does not have there, outside the 20 x 20
// square of an explosion when one is given. The columns of the corners, where the selection frame
// blinks, are left out.
std::set<std::pair<int, int>> trail_pixels(const icbm* exploding = nullptr) {
    std::set<std::pair<int, int>> points;
    for (int y = 0; y < MAP_HEIGHT; y++) {
        for (int x = 40; x < MAP_WIDTH - 40; x++) {
            if (exploding && std::abs(x - exploding->xdest) <= 10 && std::abs(y - exploding->ydest) <= 10) continue;
            if (plat::get_pixel(WinDC, x, y) == WHITE && plat::get_pixel(FullDC, x, y) != WHITE) points.insert({x, y});
        }
    }
    return points;
}

TEST_F(MissileTest, TrailShowsTheLast20PointsAndRestoresTheCleanMap) {
    // A launcher under the start of the arc and a city under its middle: their icons must come back.
    put(1, SILO, 0, 150, 200, 3);
    put(2, CITY, 0, 200, 188, 2);
    redraw();
    // Whatever the window shows is not what the trail may put back: paint it over.
    const plat::Colour junk = 0x123456;
    for (int y = 0; y < MAP_HEIGHT; y++)
        for (int x = 0; x < MAP_WIDTH; x++) plat::set_pixel(WinDC, x, y, junk);
    fire(1, 90, 99);
    std::set<std::pair<int, int>> plotted;
    int flight = 0;
    while (shot[0].flag) {
        tick();
        std::set<std::pair<int, int>> now = trail_pixels(shot[0].size ? &shot[0] : nullptr);
        plotted.insert(now.begin(), now.end());
        if (shot[0].size == 0) {
            flight++;
            // Flying along x, each tick plots a new pixel: 1, 2, ... 20, then always 20.
            ASSERT_EQ(static_cast<int>(now.size()), std::min(flight, TRAIL_LENGTH)) << "tick " << flight;
        } else {
            ASSERT_LE(static_cast<int>(now.size()), TRAIL_LENGTH - shot[0].size) << "frame " << int(shot[0].size);
        }
    }
    EXPECT_EQ(flight, 297);
    EXPECT_TRUE(trail_pixels().empty());
    // Each trail pixel got its colour back from the clean map, the icons' pixels included.
    ASSERT_GT(plotted.size(), 200u);
    int on_icons = 0;
    for (const auto& [x, y] : plotted) {
        ASSERT_EQ(plat::get_pixel(WinDC, x, y), plat::get_pixel(FullDC, x, y)) << x << "," << y;
        on_icons += (x >= 146 && x <= 154 && y >= 196 && y <= 204) || (x >= 196 && x <= 204 && y >= 184 && y <= 192);
    }
    EXPECT_GE(on_icons, 2) << "the arc should cross both icons";
}

TEST_F(MissileTest, CrossingTrailsPutBackTheMapNotEachOthersWhite) {
    // Two missiles on one track, five ticks apart, plot the same pixels.
    put(1, SILO, 0, 100, 200, 3);
    put(41, SILO, 1, 500, 300, 3);
    redraw();
    fire(1, 90, 50);
    tick(5);
    fire(1, 90, 50);
    ASSERT_EQ(shot[1].flag, 1);
    tick(10);
    std::set<std::pair<int, int>> shared = trail_pixels();
    ASSERT_EQ(shared.size(), 15u);
    while (shot[0].flag || shot[1].flag) tick();
    for (const auto& [x, y] : shared) EXPECT_EQ(plat::get_pixel(WinDC, x, y), plat::get_pixel(FullDC, x, y));
    EXPECT_TRUE(trail_pixels().empty());
}

TEST_F(MissileTest, ArcAboveTheTopDrawsNothingOffTheMap) {
    // Straight up and down from y 6: most of the arc lies above the map.
    put(1, SILO, 0, 300, 6, 3);
    redraw();
    fire(1, 0, 0);
    std::vector<plat::Colour> panel;
    for (int y = MAP_HEIGHT; y < CLIENT_HEIGHT; y++)
        for (int x = 0; x < CLIENT_WIDTH; x++) panel.push_back(plat::get_pixel(WinDC, x, y));
    int most = 0;
    while (shot[0].flag && shot[0].size == 0) {
        tick();
        most = std::max(most, static_cast<int>(trail_pixels().size()));
        size_t k = 0;
        for (int y = MAP_HEIGHT; y < CLIENT_HEIGHT; y++)
            for (int x = 0; x < CLIENT_WIDTH; x++) ASSERT_EQ(plat::get_pixel(WinDC, x, y), panel[k++]);
    }
    EXPECT_GT(most, 0);
    EXPECT_LT(most, TRAIL_LENGTH);
}

// What one tick of an arrival shows.
struct Frame {
    int size;
    int booms, hits;
    int contentment;
    bool target_there;
    bool drawn;  // the window around the blast centre differs from the clean map
};

class ArrivalTest : public MissileTest, public ::testing::WithParamInterface<int> {};

TEST_P(ArrivalTest, BoomAndSadnessFirstThenFramesThenTheBlastOnThe20thTick) {
    // Side 0 fires from (100, 300) at a silo of side 1; side 1, then to play, loses the point.
    const int power = GetParam();
    put(1, SILO, 0, 100, 300, 3);
    put(41, SILO, 1, 100 + 3 * power, 300, 3);
    put(42, CITY, 1, 400, 100, 2);
    redraw();
    fire(1, 90, static_cast<uint16_t>(power));
    ASSERT_EQ(cur_player, 1);
    const int flight = std::max(3 * power, 62);
    const int before = contentment(1);
    tick(flight);
    ASSERT_TRUE(shot[0].track.at_destination());
    ASSERT_EQ(shot[0].size, 0);
    ASSERT_EQ(sounds("SFXBoom"), 0);
    std::vector<Frame> frames;
    for (int t = 0; t < 20; t++) {
        plat::clear_sound_log();
        tick();
        bool drawn = false;
        for (int y = 290; y <= 310; y++)
            for (int x = 90 + 3 * power; x <= 110 + 3 * power; x++)
                drawn = drawn || plat::get_pixel(WinDC, x, y) != plat::get_pixel(FullDC, x, y);
        frames.push_back({shot[0].flag ? shot[0].size : -1, sounds("SFXBoom"), sounds("SFXHit"), contentment(1),
                          item[41].flag == SILO, drawn});
    }
    for (int t = 0; t < 19; t++) {
        SCOPED_TRACE(testing::Message() << "tick " << t << " after arrival");
        EXPECT_EQ(frames[t].size, t + 1);
        EXPECT_EQ(frames[t].booms, t == 0 ? 1 : 0);
        EXPECT_EQ(frames[t].hits, 0);
        EXPECT_EQ(frames[t].contentment, before - 1);
        EXPECT_TRUE(frames[t].target_there);
        EXPECT_TRUE(frames[t].drawn);
    }
    EXPECT_EQ(frames[19].size, -1) << "the slot is free";
    EXPECT_EQ(frames[19].booms, 0);
    EXPECT_EQ(frames[19].hits, 1);
    EXPECT_EQ(frames[19].contentment, before - 1);
    EXPECT_FALSE(frames[19].target_there);
    EXPECT_FALSE(frames[19].drawn) << "the explosion is erased";
}

// A short flight (the arc's 62 ticks), a middle one (120 ticks) and a long one (297 ticks).
INSTANTIATE_TEST_SUITE_P(ShortAndLong, ArrivalTest, ::testing::Values(15, 40, 99));

TEST_F(MissileTest, TwoArrivalsInOneTickEachBoomAndSadden) {
    put(1, SILO, 0, 100, 300, 3);
    put(41, SILO, 1, 300, 300, 3);
    put(42, CITY, 1, 400, 100, 2);
    redraw();
    fire(1, 0, 0);
    fire(41, 0, 0);
    ASSERT_EQ(cur_player, 0);
    const int before = contentment(0);
    tick(62);
    plat::clear_sound_log();
    tick();
    EXPECT_EQ(shot[0].size, 1);
    EXPECT_EQ(shot[1].size, 1);
    EXPECT_EQ(sounds("SFXBoom"), 2);
    EXPECT_EQ(contentment(0), before - 2);
    tick(19);
    EXPECT_EQ(sounds("SFXHit"), 2);
    EXPECT_EQ(item[1].flag, EMPTY);
    EXPECT_EQ(item[41].flag, EMPTY);
}

TEST_F(MissileTest, FireWithEveryMissileSlotBusyDoesNothing) {
    put(1, SILO, 0, 300, 200, 3);
    item[1].old_power = 7;
    item[1].old_bearing = 8;
    for (icbm& s : shot) {
        s.flag = 1;
        s.xdest = 1;
    }
    fire(1, 123, 45);
    EXPECT_EQ(item[1].ammo, 3) << "no missile taken";
    EXPECT_EQ(item[1].old_power, 7);
    EXPECT_EQ(item[1].old_bearing, 8);
    EXPECT_TRUE(plat::sound_log().empty()) << "no sound";
    EXPECT_EQ(cur_player, 0) << "the turn stays";
    EXPECT_EQ(cur_unit, 1);
    for (const icbm& s : shot) EXPECT_EQ(s.xdest, 1);

    // The same press fires once a slot is free.
    shot[30].flag = 0;
    click(kFireX, kFireY);
    EXPECT_EQ(item[1].ammo, 2);
    EXPECT_EQ(shot[30].flag, 1);
    EXPECT_EQ(shot[30].xdest, 413);
    EXPECT_EQ(shot[30].ydest, 273);
    EXPECT_EQ(cur_player, 1);
}

TEST_F(MissileTest, LaunchWithEverySlotBusyKeepsTheTurn) {
    put(1, SILO, 0, 300, 200, 3);
    for (icbm& s : shot) s.flag = 1;
    cur_unit = 1;
    startshot();
    EXPECT_EQ(cur_player, 0);
}

}  // namespace
}  // namespace vantor_test
