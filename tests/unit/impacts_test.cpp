// Impacts: the reach of a blast, what the loss of a capital or of the last launcher does, and the
// city that every arrival saddens.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "game_fixture.h"
#include "model/random.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

// A game of three human sides whose units the tests set out themselves: each side keeps its
// capital along the top edge and a loaded submarine along the bottom edge, away from every blast.
class ImpactTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        if (HasFatalFailure()) return;
        num_players = 3;
        start_game();
        if (HasFatalFailure()) return;
        for (weapon& w : item) w.flag = EMPTY;
        for (icbm& s : shot) s.flag = 0;
        for (uint8_t side = 0; side < 3; side++) {
            put(40 * side, CITY, side, 20 + 280 * side, 20, 2).supplied = true;
            put(40 * side + 39, SUB, side, 20 + 280 * side, 380, 3);
        }
        cur_player = 0;
        cur_unit = 0;
        redraw();
        plat::clear_sound_log();
    }

    // Puts a unit into a slot with its icon centred on (cx, cy).
    static weapon& put(int slot, uint8_t flag, uint8_t side, int cx, int cy, uint8_t ammo) {
        return put_unit(slot, flag, side, cx - 4, cy - 4, ammo);
    }

    static void redraw() {
        updateback();
        plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    }

    // Missile slot i has shown its 19 frames at (x, y) and its blast is due.
    static void blast(int i, int x, int y) {
        icbm& s = shot[i];
        s.flag = 1;
        s.xdest = static_cast<int16_t>(x);
        s.ydest = static_cast<int16_t>(y);
        s.size = 20;
        for (int16_t& e : s.xco) e = -1;
        checkhits(i);
    }

    static int sounds(const char* name) {
        int n = 0;
        for (const std::string& s : plat::sound_log()) n += s == name;
        return n;
    }
};

TEST_F(ImpactTest, BlastReachesUnitsStrictlyCloserThan10Pixels) {
    struct Offset {
        int dx, dy;
        bool hit;
    };
    const Offset offsets[] = {
        {6, 8, false}, {8, 6, false}, {-6, -8, false}, {6, -8, false}, {0, 10, false}, {-10, 0, false},
        {9, 5, false}, {7, 7, true},  {-7, -7, true},  {7, -7, true},  {0, 9, true},   {-9, 4, true},
        {8, 5, true},  {0, 0, true},
    };
    for (const Offset& o : offsets) {
        SCOPED_TRACE(testing::Message() << "offset " << o.dx << ", " << o.dy);
        put(41, SILO, 1, 200 + o.dx, 200 + o.dy, 3);
        blast(0, 200, 200);
        EXPECT_EQ(item[41].flag, o.hit ? EMPTY : SILO);
        EXPECT_EQ(shot[0].flag, 0);
    }
}

TEST_F(ImpactTest, BlastDoesNotReachAcrossTheEdge) {
    put(41, SILO, 1, 596, 200, 3);  // 7 pixels from (3, 200) across the edge
    put(42, SILO, 1, 12, 200, 3);   // 9 pixels on this side
    blast(0, 3, 200);
    EXPECT_EQ(item[41].flag, SILO);
    EXPECT_EQ(item[42].flag, EMPTY);
    put(43, SILO, 1, 2, 300, 3);
    blast(0, 597, 300);
    EXPECT_EQ(item[43].flag, SILO);
}

TEST_F(ImpactTest, BlastDestroysEveryUnitInReachAndShowsTheBareMap) {
    put(1, SILO, 0, 200, 200, 3);     // the side to play's own
    put(41, FACTORY, 1, 205, 200, 0); // another side's
    put(42, CITY, 1, 195, 203, 2);
    put(43, SILO, GREY, 200, 193, 3); // already grey
    put(44, SILO, 1, 200, 215, 3);    // out of reach
    redraw();
    plat::Bitmap* before = plat::create_bitmap(MAP_WIDTH, MAP_HEIGHT);
    for (int y = 0; y < MAP_HEIGHT; y++)
        for (int x = 0; x < MAP_WIDTH; x++) before->pixels[y * MAP_WIDTH + x] = plat::get_pixel(FullDC, x, y);
    // The last explosion frame is still on the window.
    for (int y = 190; y < 210; y++)
        for (int x = 190; x < 210; x++) plat::set_pixel(WinDC, x, y, 0x123456);
    blast(0, 200, 200);
    EXPECT_EQ(sounds("SFXHit"), 4);
    EXPECT_EQ(item[1].flag, EMPTY);
    EXPECT_EQ(item[41].flag, EMPTY);
    EXPECT_EQ(item[42].flag, EMPTY);
    EXPECT_EQ(item[43].flag, EMPTY);
    EXPECT_EQ(item[44].flag, SILO);
    int changed = 0;
    for (int y = 180; y < 220; y++) {
        for (int x = 180; x < 220; x++) {
            ASSERT_EQ(plat::get_pixel(WinDC, x, y), plat::get_pixel(FullDC, x, y)) << x << "," << y;
            changed += plat::get_pixel(FullDC, x, y) != before->pixels[y * MAP_WIDTH + x];
        }
    }
    EXPECT_GT(changed, 0) << "the clean map no longer shows the destroyed icons";
    plat::delete_bitmap(before);
    EXPECT_TRUE(alive[0]);
    EXPECT_TRUE(alive[1]);
    EXPECT_EQ(cur_player, 0);
}

TEST_F(ImpactTest, CapitalHitEliminatesItsSideAtOnce) {
    put(41, SILO, 1, 400, 200, 3);
    item[40].x = 196;
    item[40].y = 196;
    blast(0, 200, 200);
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(item[40].flag, EMPTY);
    for (int slot : {41, 79}) {
        EXPECT_EQ(item[slot].side, GREY);
        EXPECT_TRUE(item[slot].greynow);
    }
    EXPECT_EQ(cur_player, 0) << "side 0 was to play and keeps the turn";
    EXPECT_EQ(timer_mode, MODE_PLAYING);
}

TEST_F(ImpactTest, CapitalOfTheSideToPlayPassesTheTurn) {
    cur_player = 1;
    cur_unit = 40;
    item[40].x = 196;
    item[40].y = 196;
    blast(0, 200, 200);
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(cur_player, 2);
    EXPECT_EQ(timer_mode, MODE_PLAYING);
}

TEST_F(ImpactTest, LastOpponentsCapitalEndsTheGame) {
    playerlost(2);
    ASSERT_EQ(timer_mode, MODE_PLAYING);
    item[40].x = 196;
    item[40].y = 196;
    blast(0, 200, 200);
    EXPECT_FALSE(alive[1]);
    EXPECT_TRUE(alive[0]);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
}

TEST_F(ImpactTest, OtherCitiesAndGreyCapitalsEliminateNobody) {
    put(41, CITY, 1, 200, 200, 2);
    blast(0, 200, 200);
    EXPECT_TRUE(alive[1]);
    // A grey capital belongs to no side in play.
    playerlost(2);
    item[80].x = 296;
    item[80].y = 296;
    blast(0, 300, 300);
    EXPECT_EQ(item[80].flag, EMPTY);
    EXPECT_TRUE(alive[0]);
    EXPECT_TRUE(alive[1]);
}

TEST_F(ImpactTest, AnotherSidesLastLauncherIsMissedOnlyAtItsTurn) {
    // Side 1 loses its only launcher while side 0 is to play: it stays in the game for now.
    item[79].x = 196;
    item[79].y = 196;
    blast(0, 200, 200);
    EXPECT_TRUE(alive[1]);
    EXPECT_EQ(cur_player, 0);
    // When its turn comes it has nothing to fire and is out; the turn goes on to side 2.
    nextplayer();
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(cur_player, 2);
}

TEST_F(ImpactTest, AnotherSidesLastLauncherIsMissedWhenAnotherOfItsUnitsIsHit) {
    put(41, CITY, 1, 400, 200, 2);
    item[79].x = 196;
    item[79].y = 196;
    blast(0, 200, 200);
    ASSERT_TRUE(alive[1]);
    blast(0, 400, 200);
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(cur_player, 0);
}

TEST_F(ImpactTest, SideToPlayLeftWithoutMissilesPassesTheTurn) {
    cur_player = 1;
    cur_unit = 40;
    put(41, SILO, 1, 400, 100, 0);  // an empty silo counts for nothing
    item[79].x = 196;
    item[79].y = 196;
    blast(0, 200, 200);
    EXPECT_TRUE(alive[1]) << "not eliminated by the blast itself";
    EXPECT_EQ(cur_player, 2) << "the turn passes";
    EXPECT_EQ(cur_unit, 80);
    // Side 2 fires, then side 0; side 1's turn begins without a missile.
    nextplayer();
    ASSERT_EQ(cur_player, 0);
    nextplayer();
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(cur_player, 2);
}

TEST_F(ImpactTest, SideToPlayWhoseFactoryRefillsInTimeStaysIn) {
    cur_player = 1;
    cur_unit = 40;
    put(41, SILO, 1, 400, 100, 0);
    put(42, FACTORY, 1, 420, 100, 0).fact1 = 41;
    supply = 1;  // the refill comes at side 0's next turn
    item[79].x = 196;
    item[79].y = 196;
    blast(0, 200, 200);
    ASSERT_EQ(cur_player, 2);
    nextplayer();
    ASSERT_EQ(cur_player, 0);
    EXPECT_EQ(item[41].ammo, 1);
    nextplayer();
    EXPECT_TRUE(alive[1]);
    EXPECT_EQ(cur_player, 1);
}

TEST_F(ImpactTest, SideToPlayKeepsTheTurnWhileItHasAMissile) {
    cur_player = 1;
    cur_unit = 40;
    put(41, SILO, 1, 400, 100, 1);
    item[79].x = 196;
    item[79].y = 196;
    blast(0, 200, 200);
    EXPECT_EQ(cur_player, 1);
    // A blast far from its units changes nothing either.
    blast(0, 300, 300);
    EXPECT_EQ(cur_player, 1);
}

TEST_F(ImpactTest, WinnerLeftWithoutMissilesIsNotPassedOver) {
    // The blast takes the last opponent's capital and the side to play's last launcher at once.
    playerlost(2);
    item[40].x = 196;
    item[40].y = 196;
    item[39].x = 200;
    item[39].y = 200;
    blast(0, 200, 200);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_TRUE(alive[0]);
    EXPECT_EQ(cur_player, 0);
}

TEST_F(ImpactTest, SelectionStaysOnTheDestroyedFirstUnitOfTheSideToPlay) {
    // Side 0's first unit is a silo, selected; its capital comes after it.
    item[1] = item[0];
    put(0, SILO, 0, 200, 200, 3);
    cur_unit = 0;
    blast(0, 200, 200);
    EXPECT_EQ(item[0].flag, EMPTY);
    EXPECT_EQ(cur_unit, 0);
    EXPECT_EQ(cur_player, 0);
}

TEST_F(ImpactTest, SelectionMovesOffADestroyedUnitThatIsNotTheFirst) {
    put(1, SILO, 0, 200, 200, 3);
    cur_unit = 1;
    blast(0, 200, 200);
    EXPECT_EQ(cur_unit, 0);
}

class SadnessTest : public ImpactTest {
protected:
    static int cities_of(uint8_t side) {
        int sum = 0;
        for (const weapon& w : item)
            if (w.flag == CITY && w.side == side) sum += w.ammo;
        return sum;
    }
};

TEST_F(SadnessTest, WithNobodyLeftToPlayAnArrivalSaddensNobody) {
    // Every side was eliminated earlier in the tick; the cities are still in their slots.
    for (bool& a : alive) a = false;
    for (weapon& w : item)
        if (w.flag == CITY) w.side = 0;
    cur_player = 0;
    // Run in a child that the alarm ends if the search never does.
    EXPECT_EXIT(
        {
            alarm(5);
            uint16_t s = seed;
            int before = cities_of(0);
            makesadder();
            std::_Exit(cities_of(0) == before && seed == s ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SadnessTest, OnlyTheSideToPlayLosesAPoint) {
    cur_player = 1;
    makesadder();
    EXPECT_EQ(cities_of(0), 2);
    EXPECT_EQ(cities_of(1), 1);
    EXPECT_EQ(cities_of(2), 2);
}

TEST_F(SadnessTest, CapitalWithoutContentmentEliminatesItsSideWhenDrawn) {
    cur_player = 1;
    item[40].ammo = 0;
    makesadder();
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(cur_player, 2);
    EXPECT_EQ(item[40].ammo, 0);
}

TEST_F(SadnessTest, EveryCityWithContentmentAndTheCapitalAreEquallyLikely) {
    // Side 0: the capital at 2, a city at 2, a city at 0 that can never lose a point.
    put(1, CITY, 0, 100, 100, 2);
    put(2, CITY, 0, 100, 150, 0);
    int capital = 0, other = 0;
    const int runs = 3000;
    for (int r = 0; r < runs; r++) {
        item[0].ammo = 2;
        item[1].ammo = 2;
        seed = static_cast<uint16_t>(r * 21);
        makesadder();
        ASSERT_EQ(item[2].ammo, 0);
        ASSERT_EQ(cities_of(1) + cities_of(2), 4);
        capital += item[0].ammo == 1;
        other += item[1].ammo == 1;
        ASSERT_EQ(capital + other, r + 1);
    }
    EXPECT_GT(capital, runs * 2 / 5);
    EXPECT_GT(other, runs * 2 / 5);
}

TEST_F(SadnessTest, CapitalAtZeroIsDrawnAsOftenAsACityWithContentment) {
    put(1, CITY, 0, 100, 100, 1);
    item[0].ammo = 0;
    weapon units[NUM_UNITS];
    std::copy(std::begin(item), std::end(item), units);
    int out = 0, sadder = 0;
    const int runs = 1000;
    for (int r = 0; r < runs; r++) {
        std::copy(std::begin(units), std::end(units), item);
        alive[0] = alive[1] = alive[2] = true;
        cur_player = 0;
        seed = static_cast<uint16_t>(r * 63);
        makesadder();
        out += !alive[0];
        sadder += item[1].ammo == 0;
    }
    EXPECT_EQ(out + sadder, runs);
    EXPECT_GT(out, runs * 2 / 5);
    EXPECT_GT(sadder, runs * 2 / 5);
}

}  // namespace
}  // namespace vantor_test
