// Whole games through the window procedure: placement, turns and the end of a game.
#include "game_fixture.h"

#include "platform/null.h"

namespace vantor_test {
namespace {

using PlayTest = GameTest;

TEST_F(PlayTest, DefaultPlacementTakes27TicksAndPlayBeginsOnThe28th) {
    to_title();
    click(380, 340);
    ASSERT_EQ(timer_mode, MODE_PLACING);
    tick(27);
    EXPECT_EQ(timer_mode, MODE_PLACING);
    tick();
    EXPECT_EQ(timer_mode, MODE_PLAYING);
    int per_side[4] = {0, 0, 0, 0};
    int capitals[4] = {0, 0, 0, 0};
    for (int i = 0; i < NUM_UNITS; i++) {
        if (item[i].flag == EMPTY) continue;
        per_side[item[i].side]++;
        EXPECT_LE(item[i].x, 580);
        EXPECT_LE(item[i].y, 360);
        if (item[i].flag == CITY && item[i].supplied) capitals[item[i].side]++;
        if (item[i].flag == SILO) {
            EXPECT_TRUE(item[i].supplied);
        }
        if (item[i].flag == FACTORY) {
            EXPECT_NE(item[i].fact1, item[i].fact2);
            EXPECT_EQ(item[item[i].fact1].side, item[i].side);
            EXPECT_EQ(item[item[i].fact2].side, item[i].side);
        }
    }
    for (int b = 0; b < 4; b++) {
        EXPECT_EQ(per_side[b], 27);
        EXPECT_EQ(capitals[b], 1);
        EXPECT_TRUE(alive[b]);
    }
}

TEST_F(PlayTest, AbortEndsTheGameAndTheTitleReturns) {
    start_game();
    click(300, 430);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_TRUE(justaborted);
    tick(99);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    tick();
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_EQ(hMainmap, nullptr);
    EXPECT_EQ(FullDC, nullptr);
}

TEST_F(PlayTest, ComputerOnlyGamesEnd) {
    to_title();
    click(160, 340);  // box 0 computer
    click(190, 340);  // box 1 computer
    click(220, 340);  // box 2 computer
    click(250, 340);  // box 3 computer
    for (int game = 0; game < 3; game++) {
        click(380, 340);
        ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
        run_until(MODE_GAMEOVER, 200000);
        run_until(MODE_TITLE, 200);
    }
}

}  // namespace
}  // namespace vantor_test
