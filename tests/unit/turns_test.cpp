// Turns, selection and elimination in a running game: passing the turn, refills, elimination
// and its nesting, the end of a game, selection by click, the cursor frame and the grey-out.
#include <cstring>
#include <string>
#include <vector>

#include "game_fixture.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

class TurnsTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        start_game();
        // Four live sides, side 0 to move, every slot cleared but for the units a test places.
        for (weapon& w : item) w.flag = EMPTY;
        cur_player = 0;
        supply = 0;
    }

    static weapon& put(int slot, uint8_t flag, uint8_t side, int x, int y, uint8_t ammo = 0) {
        return put_unit(slot, flag, side, x, y, ammo);
    }

    // A loaded submarine for each side named, in its first slot, on a row of its own.
    static void armed(std::initializer_list<int> sides) {
        for (int s : sides) put(UNITS_PER_SIDE * s, SUB, static_cast<uint8_t>(s), 50 + 100 * s, 200, 3);
    }

    static int pending_grey() {
        int n = 0;
        for (const weapon& w : item) n += (w.flag != EMPTY && w.greynow) ? 1 : 0;
        return n;
    }

    static int count_sounds(const std::string& name) {
        int n = 0;
        for (const std::string& s : plat::sound_log()) n += s == name ? 1 : 0;
        return n;
    }
};

// Whether the window's 13 x 13 square at (x, y) equals that of FullDC (no frame drawn there).
bool window_matches_map(int x, int y, int size) {
    for (int j = 0; j < size; j++)
        for (int i = 0; i < size; i++)
            if (plat::get_pixel(WinDC, x + i, y + j) != plat::get_pixel(FullDC, x + i, y + j)) return false;
    return true;
}

TEST_F(TurnsTest, NextplayerStepsOverDeadSidesInTurn) {
    armed({0, 1, 2, 3});
    alive[1] = false;
    nextplayer();
    EXPECT_EQ(cur_player, 2);
    EXPECT_EQ(cur_unit, 80);
    nextplayer();
    EXPECT_EQ(cur_player, 3);
    nextplayer();
    EXPECT_EQ(cur_player, 0);
    EXPECT_EQ(cur_unit, 0);
}

TEST_F(TurnsTest, NextplayerWithNoSideAliveLeavesEverythingAlone) {
    armed({0, 1, 2, 3});
    for (bool& a : alive) a = false;
    cur_player = 2;
    cur_unit = 5;
    supply = 1;
    nextplayer();
    EXPECT_EQ(cur_player, 2);
    EXPECT_EQ(cur_unit, 5);
    EXPECT_EQ(supply, 1);
    EXPECT_EQ(timer_mode, MODE_PLAYING);
}

TEST_F(TurnsTest, EliminationsAtTheStartOfTurnsNestAndPassOn) {
    // Sides 1 and 2 have nothing to fire: the turn runs through both to side 3.
    armed({0, 3});
    put(41, SILO, 1, 100, 300, 0);
    put(81, CITY, 2, 200, 300, 2);
    put(82, FACTORY, 2, 250, 300, 3);
    nextplayer();
    EXPECT_EQ(cur_player, 3);
    EXPECT_EQ(cur_unit, 120);
    EXPECT_FALSE(alive[1]);
    EXPECT_FALSE(alive[2]);
    EXPECT_TRUE(alive[3]);
    EXPECT_EQ(timer_mode, MODE_PLAYING);
    for (int slot : {41, 81, 82}) {
        EXPECT_EQ(item[slot].side, GREY) << slot;
        EXPECT_TRUE(item[slot].greynow) << slot;
    }
}

TEST_F(TurnsTest, CheckammoIgnoresGreyAndDeadSidesAndCountsOnlyLaunchers) {
    put(40, CITY, 1, 100, 300, 2);
    put(41, FACTORY, 1, 150, 300, 3);
    put(120, SILO, 3, 300, 300, 0);
    put(121, SILO, GREY, 350, 300, 3);
    alive[3] = false;
    checkammo(GREY);
    checkammo(3);
    EXPECT_EQ(pending_grey(), 0);
    EXPECT_EQ(item[120].side, 3);
    // A city's contentment and a factory's ammo are no missiles.
    checkammo(1);
    EXPECT_FALSE(alive[1]);
    EXPECT_EQ(item[40].side, GREY);
}

TEST_F(TurnsTest, ResupplyCountsAtTheLowestLiveSideOnly) {
    armed({0, 1, 2, 3});
    put(1, SILO, 0, 100, 100, 0);
    weapon& f = put(2, FACTORY, 0, 150, 100);
    f.fact1 = 1;
    cur_player = 1;
    resupply();
    EXPECT_EQ(supply, 0);
    // With side 0 gone, side 1 is the lowest live side and its turns count.
    alive[0] = false;
    resupply();
    EXPECT_EQ(supply, 1);
    resupply();
    EXPECT_EQ(supply, 0);
    EXPECT_EQ(item[1].ammo, 1);
    // Sides at or above num_players never count as the lowest live side.
    num_players = 2;
    alive[1] = false;
    alive[2] = true;
    cur_player = 2;
    resupply();
    EXPECT_EQ(supply, 0);
}

TEST_F(TurnsTest, ResupplyServesEveryFactoryOnceUpToThree) {
    cur_player = 0;
    supply = 1;
    put(1, SILO, 0, 100, 100, 2);
    put(2, SILO, 0, 120, 100, 3);
    weapon& f = put(3, FACTORY, 0, 140, 100);
    f.fact1 = 1;
    f.fact2 = 2;
    // A grey factory still serves its grey silo; a destroyed silo is skipped.
    put(41, SILO, GREY, 100, 300, 0);
    put(42, SILO, GREY, 120, 300, 0);
    weapon& g = put(43, FACTORY, GREY, 140, 300);
    g.fact1 = 41;
    g.fact2 = 42;
    item[42].flag = EMPTY;
    // Two factories on one silo give it two.
    put(80, SILO, 2, 100, 350, 1);
    weapon& h1 = put(81, FACTORY, 2, 120, 350);
    weapon& h2 = put(82, FACTORY, 2, 140, 350);
    h1.fact2 = 80;
    h2.fact1 = 80;
    resupply();
    EXPECT_EQ(supply, 0);
    EXPECT_EQ(item[1].ammo, 3);
    EXPECT_EQ(item[2].ammo, 3);
    EXPECT_EQ(item[41].ammo, 1);
    EXPECT_EQ(item[42].ammo, 0);
    EXPECT_EQ(item[80].ammo, 3);
}

TEST_F(TurnsTest, PlayerlostOfTheLastOpponentEndsTheGameInTheSameCall) {
    armed({0, 1});
    alive[2] = alive[3] = false;
    cpu_timer = 77;
    playerlost(1);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_EQ(cur_player, 0);
    // FullDC shows the side's submarine in grey at once: the map ORed with the grey icon.
    const int gx = (SUB - 1) * 10, gy = GREY * 10;
    for (int j = 0; j < 9; j++) {
        for (int i = 0; i < 9; i++) {
            plat::Colour icon = hPanelgfx->pixels[static_cast<size_t>(gy + j) * hPanelgfx->width + gx + i];
            plat::Colour map = hMainmap->pixels[static_cast<size_t>(200 + j) * MAP_WIDTH + 150 + i];
            ASSERT_EQ(plat::get_pixel(FullDC, 150 + i, 200 + j), map | icon) << i << ", " << j;
        }
    }
}

TEST_F(TurnsTest, PlayerlostOfTheSideToMovePassesTheTurn) {
    armed({0, 1, 2, 3});
    playerlost(0);
    EXPECT_EQ(cur_player, 1);
    EXPECT_EQ(cur_unit, 40);
    EXPECT_EQ(timer_mode, MODE_PLAYING);
}

TEST_F(TurnsTest, EndgameCountsOnlyTheSidesInTheGame) {
    num_players = 2;
    alive[0] = true;
    alive[1] = false;
    alive[2] = alive[3] = true;
    endgame();
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
}

TEST_F(TurnsTest, FindnextunitLoadsButDoesNotStore) {
    put(40, SILO, 1, 100, 100, 3).old_power = 20;
    item[40].old_bearing = 300;
    put(41, CITY, 1, 150, 100, 2);
    put(0, CITY, 0, 200, 100, 2);
    cur_unit = 0;
    bearing = 11;
    power = 22;
    cur_player = 1;
    findnextunit();
    EXPECT_EQ(cur_unit, 40);
    EXPECT_EQ(bearing, 300);
    EXPECT_EQ(power, 20);
    EXPECT_EQ(item[0].old_bearing, 0);
    EXPECT_EQ(item[0].old_power, 0);
}

TEST_F(TurnsTest, ClickunitReachesTheTopRowOfThePanel) {
    put(1, SILO, 0, 100, 392, 3);
    cur_unit = 0;
    clickunit(104, 401);
    EXPECT_NE(cur_unit, 1);
    clickunit(104, 400);
    EXPECT_EQ(cur_unit, 1);
}

TEST_F(TurnsTest, CursorFrameIsOredOnAndCopiedOff) {
    put(0, CITY, 0, 300, 300, 2);
    updateback();
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    cur_unit = 0;
    cursor_on = false;
    timer_count = 0;
    flashcursor();
    flashcursor();
    EXPECT_TRUE(window_matches_map(298, 298, 13));
    flashcursor();
    EXPECT_TRUE(cursor_on);
    for (int j = 0; j < 13; j++) {
        for (int i = 0; i < 13; i++) {
            plat::Colour frame = hPanelgfx->pixels[static_cast<size_t>(j) * hPanelgfx->width + 40 + i];
            plat::Colour map = plat::get_pixel(FullDC, 298 + i, 298 + j);
            ASSERT_EQ(window_pixel(298 + i, 298 + j), frame | map) << i << ", " << j;
        }
    }
    flashcursor();
    flashcursor();
    flashcursor();
    EXPECT_FALSE(cursor_on);
    EXPECT_TRUE(window_matches_map(298, 298, 13));
}

TEST_F(TurnsTest, CursorOnAnEmptySlotDrawsNothing) {
    put(1, CITY, 0, 0, 0, 2);
    updateback();
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    cur_unit = 0;
    item[0].x = 300;
    item[0].y = 300;
    timer_count = 2;
    cursor_on = false;
    flashcursor();
    EXPECT_TRUE(cursor_on);
    EXPECT_TRUE(window_matches_map(298, 298, 13));
}

TEST_F(TurnsTest, GreyOutAfterAnEliminationIsOneUnitPerTickWithItsSound) {
    armed({0, 2});
    put(41, CITY, 1, 100, 300, 2);
    put(42, SILO, 1, 120, 300, 0);
    put(43, FACTORY, 1, 140, 300, 0);
    playerlost(1);
    ASSERT_EQ(pending_grey(), 3);
    for (int left = 2; left >= 0; left--) {
        plat::clear_sound_log();
        greyunits();
        EXPECT_EQ(pending_grey(), left);
        EXPECT_EQ(count_sounds("SFXGreyout"), 1);
    }
    // The lowest slot first; the window now shows the grey icons of FullDC.
    EXPECT_TRUE(window_matches_map(100, 300, 9));
    EXPECT_TRUE(window_matches_map(140, 300, 9));
    plat::clear_sound_log();
    greyunits();
    EXPECT_TRUE(plat::sound_log().empty());
}

TEST_F(TurnsTest, AbortGreysEverythingThreeUnitsPerTickWithOneSound) {
    armed({0, 1, 2, 3});
    for (int i = 1; i <= 3; i++) put(i, CITY, 0, 100 + 20 * i, 100, 2);
    click(300, 430);
    ASSERT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_TRUE(justaborted);
    for (bool a : alive) EXPECT_FALSE(a);
    for (const weapon& w : item) EXPECT_EQ(w.side, GREY);
    ASSERT_EQ(pending_grey(), 7);
    const int left[] = {4, 1, 0};
    for (int n : left) {
        plat::clear_sound_log();
        greyunits();
        EXPECT_EQ(pending_grey(), n);
        EXPECT_EQ(count_sounds("SFXGreyout"), 1);
    }
}

TEST_F(TurnsTest, AComputerTurnTakesOnlyTheAbort) {
    armed({0, 1, 2, 3});
    put(1, SILO, 0, 300, 100, 3);
    cpu_player[0] = true;
    cur_unit = 0;
    bearing = power = 0;
    plat::clear_sound_log();
    click(304, 104);
    click(390, 455);
    click(540, 405);
    click(575, 430);
    EXPECT_EQ(cur_unit, 0);
    EXPECT_EQ(bearing, 0);
    EXPECT_EQ(power, 0);
    EXPECT_EQ(item[0].ammo, 3);
    EXPECT_TRUE(plat::sound_log().empty());
    click(261, 454);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
}

}  // namespace
}  // namespace vantor_test
