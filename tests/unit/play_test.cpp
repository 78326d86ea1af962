// Whole games through the window procedure: placement, turns and the end of a game.
#include "game_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

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

// Fast play changes only how often the ticks come: a computer-only game hurried on and off, by key
// and by clicks on the map, is the same game, draw for draw, with four ticks to one while on.
TEST_F(PlayTest, FastPlayIsTheSameGameWithShorterTicks) {
    to_title();
    for (int box = 0; box < 4; box++) click(160 + 30 * box, 340);
    struct Run {
        uint16_t seed;
        long ticks;
        std::vector<uint8_t> units;
    };
    auto play = [this](bool hurry) {
        seed = 1234;
        click(380, 340);
        long ticks = 0;
        while (timer_mode != MODE_GAMEOVER && ticks < 200000) {
            if (hurry && ticks % 61 == 0) keypress('F');
            if (hurry && ticks % 97 == 0) click(300, 200);
            if (timer_mode == MODE_PLAYING) {
                EXPECT_EQ(plat::timer_period(hwnd), fastplay ? FAST_TICK_MS : TICK_MS);
            }
            tick();
            ticks++;
        }
        auto bytes = reinterpret_cast<const uint8_t*>(item);
        Run run{seed, ticks, std::vector<uint8_t>(bytes, bytes + sizeof item)};
        if (fastplay) keypress(plat::VK_SPACE);
        run_until(MODE_TITLE, 200);
        EXPECT_EQ(plat::timer_period(hwnd), TICK_MS);
        return run;
    };
    Run normal = play(false);
    Run hurried = play(true);
    EXPECT_EQ(hurried.ticks, normal.ticks);
    EXPECT_EQ(hurried.seed, normal.seed);
    EXPECT_TRUE(hurried.units == normal.units);
}

TEST_F(PlayTest, FastPlayWaitsForTheComputerAndShowsInTheCaption) {
    start_game();
    ASSERT_FALSE(cpu_player[cur_player]);
    keypress('F');
    EXPECT_TRUE(fastplay);
    EXPECT_EQ(plat::timer_period(hwnd), TICK_MS) << "a person's turn keeps its pace";
    EXPECT_NE(plat::window_caption(hwnd).find("fast play"), std::string::npos);
    keypress('Q');
    EXPECT_TRUE(fastplay) << "other keys do nothing";
    keypress('F');
    EXPECT_EQ(plat::window_caption(hwnd).find("fast play"), std::string::npos);
}

TEST_F(PlayTest, AReplaysCaptionNamesTheGameAndNeverOffersFastPlay) {
    start_game();
    std::snprintf(replay_label, sizeof replay_label, "World, 2026-12-09 15:30");
    keypress('F');
    std::string caption = plat::window_caption(hwnd);
    EXPECT_EQ(caption.rfind("Vantor - replay of World, 2026-12-09 15:30 - ", 0), 0u) << caption;
    EXPECT_EQ(caption.find("fast play"), std::string::npos) << caption;
}

}  // namespace
}  // namespace vantor_test
