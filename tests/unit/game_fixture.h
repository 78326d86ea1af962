// A headless game for tests: a synthetic map pair in a fresh working directory, the real start-up,
// and helpers that send the window the messages a player would.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/app.h"
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "platform/gdi.h"

namespace vantor_test {

// Writes NAME.map and NAME.tac into dir: four territory quadrants (red, blue / yellow, green)
// around a band of sea across the middle, and a plain picture. Returns false if writing failed.
bool write_quad_map(const std::filesystem::path& dir, const std::string& name);

// Puts a unit into a slot with its icon's top-left at (x, y) and every other field as placement
// leaves it: no factory links, not a capital, not grey, remembered settings 0.
weapon& put_unit(int slot, uint8_t flag, uint8_t side, int x, int y, uint8_t ammo = 0);

class GameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void tick(int n = 1);
    void click(int x, int y);
    void paint();
    // Ticks until timer_mode is mode; fails the test after max ticks.
    void run_until(uint8_t mode, int max = 100000);
    // From the intro to the title screen.
    void to_title();
    // From the intro through the title's start control to the first tick of play.
    void start_game();
    plat::Colour window_pixel(int x, int y) const;

    std::filesystem::path dir_;
    std::filesystem::path old_dir_;
};

}  // namespace vantor_test
