// The control panel in a running game: what each cell shows for the selected unit, the close-up
// at the map's edges, the name and number glyphs, the dial over its whole square, and firing.
#include <cmath>
#include <cstring>
#include <string>

#include "game_fixture.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

class PanelTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        start_game();
        // Sides 0 and 1 left, side 0 to move, every slot cleared but for the units a test places.
        for (weapon& w : item) w.flag = EMPTY;
        alive[2] = alive[3] = false;
        cur_player = 0;
    }

    static weapon& put(int slot, uint8_t flag, uint8_t side, int x, int y, uint8_t ammo = 0) {
        return put_unit(slot, flag, side, x, y, ammo);
    }

    // Selects a slot and draws the panel for it, with the map redrawn for the units placed.
    static void show(int slot) {
        updateback();
        cur_unit = static_cast<uint8_t>(slot);
        printpanel();
    }

    void press(int x, int y) { WindowFunction(hwnd, plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y)); }
    void release(int x, int y) { WindowFunction(hwnd, plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y)); }
};

// Whether the window's w x h pixels at (x, y) equal those of src at (sx, sy).
::testing::AssertionResult window_shows(int x, int y, int w, int h, const plat::Bitmap* src, int sx, int sy) {
    if (!src) return ::testing::AssertionFailure() << "no source bitmap";
    for (int j = 0; j < h; j++) {
        for (int i = 0; i < w; i++) {
            plat::Colour want = src->pixels[static_cast<size_t>(sy + j) * src->width + sx + i];
            plat::Colour got = plat::get_pixel(WinDC, x + i, y + j);
            if (got != want) {
                return ::testing::AssertionFailure() << "window (" << x + i << ", " << y + j << ") is " << std::hex
                                                     << got << ", source (" << sx + i << ", " << sy + j << ") is "
                                                     << want;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The panel picture where nothing is drawn over it.
::testing::AssertionResult panel_picture_at(int x, int y, int w, int h) {
    return window_shows(x, y, w, h, hPanelimage, x, y - MAP_HEIGHT);
}

// Whether the glyph cells at (x, 407) show the given glyph numbers of the font.
::testing::AssertionResult glyphs_at(int x, std::initializer_list<int> glyphs) {
    int i = 0;
    for (int g : glyphs) {
        auto r = window_shows(x + 7 * i, 407, 7, 16, hFontgfx, 7 * g, 0);
        if (!r) return r << " (character " << i << ", glyph " << g << ")";
        i++;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(PanelTest, CloseUpCopiesTheMapAroundTheUnitAtFullScale) {
    put(0, CITY, 0, 300, 200, 2);
    show(0);
    EXPECT_TRUE(window_shows(5, 405, 100, 50, hFullimage, 254, 179));
    // The icon sits at the middle: its top-left pixel at (5 + 46, 405 + 21).
    EXPECT_EQ(window_pixel(51, 426), plat::get_pixel(FullDC, 300, 200));
}

TEST_F(PanelTest, CloseUpIsNotClampedAtTheMapEdges) {
    // Top left: the part above and left of the map shows the panel picture.
    put(0, CITY, 0, 0, 0, 2);
    show(0);
    EXPECT_TRUE(panel_picture_at(5, 405, 46, 50));
    EXPECT_TRUE(panel_picture_at(51, 405, 54, 21));
    EXPECT_TRUE(window_shows(51, 426, 54, 29, hFullimage, 0, 0));

    // Bottom right: the rectangle runs past x 599 and y 399.
    put(1, CITY, 0, 591, 391, 2);
    show(1);
    EXPECT_TRUE(window_shows(5, 405, 55, 30, hFullimage, 545, 370));
    EXPECT_TRUE(panel_picture_at(60, 405, 45, 50));
    EXPECT_TRUE(panel_picture_at(5, 435, 55, 20));
}

TEST_F(PanelTest, StateAndSideCellsFollowTheUnit) {
    for (uint8_t side = 0; side < 4; side++) {
        put(0, CITY, side, 100, 100, 0);
        show(0);
        EXPECT_TRUE(window_shows(175, 430, 60, 25, hPanelgfx, 0, 100 + 25 * side)) << "side " << int(side);
    }
    for (uint8_t mood = 0; mood <= 2; mood++) {
        put(0, CITY, 0, 100, 100, mood);
        show(0);
        EXPECT_TRUE(window_shows(110, 430, 60, 25, hPanelgfx, 0, 200 + 25 * mood)) << "contentment " << int(mood);
    }
    for (uint8_t type : {SILO, SUB}) {
        put(0, type, 0, 100, 100, 0);
        show(0);
        EXPECT_TRUE(window_shows(110, 430, 60, 25, hPanelgfx, 0, 350)) << "type " << int(type) << " empty";
        for (uint8_t ammo = 1; ammo <= 3; ammo++) {
            put(0, type, 0, 100, 100, ammo);
            show(0);
            EXPECT_TRUE(window_shows(110, 430, 60, 25, hPanelgfx, 0, 250 + 25 * ammo))
                << "type " << int(type) << " with " << int(ammo);
        }
    }
}

TEST_F(PanelTest, FactoryShowsItsTwoSilosSideBySide) {
    put(1, SILO, 0, 200, 150, 3);
    put(2, SILO, 0, 400, 300, 1);
    weapon& f = put(3, FACTORY, 0, 100, 100);
    f.fact1 = 1;
    f.fact2 = 2;
    show(3);
    EXPECT_TRUE(window_shows(110, 430, 25, 25, hFullimage, 192, 142));
    EXPECT_TRUE(window_shows(145, 430, 25, 25, hFullimage, 392, 292));
    EXPECT_TRUE(panel_picture_at(135, 430, 10, 25));

    // A destroyed silo leaves the panel picture in its place; so does a link to no slot.
    item[2].flag = EMPTY;
    show(3);
    EXPECT_TRUE(window_shows(110, 430, 25, 25, hFullimage, 192, 142));
    EXPECT_TRUE(panel_picture_at(145, 430, 25, 25));
    f.fact1 = NO_SLOT;
    show(3);
    EXPECT_TRUE(panel_picture_at(110, 430, 60, 25));

    // A factory destroyed while selected still shows the silos it held.
    f.fact1 = 1;
    f.flag = EMPTY;
    show(3);
    EXPECT_TRUE(window_shows(110, 430, 25, 25, hFullimage, 192, 142));
}

TEST_F(PanelTest, NamesUseCapitalsForLowerCaseAndBlankForOtherSigns) {
    weapon& w = put(0, CITY, 0, 100, 100, 2);
    std::memcpy(w.name, "ab$.09 Z\xA3-xy    ", 17);
    show(0);
    EXPECT_TRUE(glyphs_at(117, {12, 13, 0, 1, 2, 11, 0, 37, 0, 0, 35, 36, 0, 0, 0, 0}));
}

TEST_F(PanelTest, NumbersAreThreeAndTwoDigitsWithLeadingZeros) {
    put(0, SILO, 0, 100, 100, 3);
    item[0].old_bearing = 7;
    item[0].old_power = 5;
    cur_unit = 1;
    findnextunit();
    EXPECT_TRUE(glyphs_at(435, {2, 2, 9}));
    EXPECT_TRUE(glyphs_at(492, {2, 7}));
    // The arrow buttons redraw only the numbers.
    click(455, 440);
    click(510, 440);
    EXPECT_TRUE(glyphs_at(435, {2, 2, 10}));
    EXPECT_TRUE(glyphs_at(492, {2, 8}));
}

TEST_F(PanelTest, PressedArrowsStayUntilTheButtonIsReleasedAnywhere) {
    put(0, SILO, 0, 100, 100, 3);
    show(0);
    press(445, 440);
    press(500, 440);
    EXPECT_TRUE(window_shows(420, 430, 25, 25, hPanelgfx, 0, 75));
    EXPECT_TRUE(window_shows(445, 430, 25, 25, hPanelgfx, 25, 75));
    EXPECT_TRUE(window_shows(475, 430, 25, 25, hPanelgfx, 0, 75));
    EXPECT_TRUE(window_shows(500, 430, 25, 25, hPanelgfx, 25, 75));
    release(10, 10);
    EXPECT_TRUE(window_shows(420, 430, 25, 25, hPanelgfx, 0, 50));
    EXPECT_TRUE(window_shows(445, 430, 25, 25, hPanelgfx, 25, 50));
    EXPECT_TRUE(window_shows(475, 430, 25, 25, hPanelgfx, 0, 50));
    EXPECT_TRUE(window_shows(500, 430, 25, 25, hPanelgfx, 25, 50));
}

TEST_F(PanelTest, DialGivesTheCompassDirectionAnywhereInItsSquare) {
    put(0, SILO, 0, 100, 100, 3);
    show(0);
    for (int y = 405; y <= 455; y++) {
        for (int x = 365; x <= 415; x++) {
            int dx = x - 390, dy = y - 430;
            bearing = 999;
            clickpanel(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
            // The direction clockwise from up, in degrees; single precision may round a value a hair
            // below a whole degree up to it (the diagonals), never further.
            double exact = std::atan2(dx, -dy) * 180 / M_PI;
            if (exact < 0) exact += 360;
            if (dx == 0 && dy == 0) exact = 0;
            int low = static_cast<int>(std::floor(exact)) % 360;
            int high = static_cast<int>(std::floor(exact + 1e-4)) % 360;
            ASSERT_TRUE(bearing == low || bearing == high) << "(" << x << ", " << y << ") gave " << bearing;
        }
    }
}

TEST_F(PanelTest, FireLaunchesFromTheLauncherAndPassesTheTurn) {
    put(0, SILO, 0, 100, 100, 2);
    put(40, CITY, 1, 500, 100, 2);
    put(41, SUB, 1, 500, 300, 1);
    item[40].old_power = 33;
    item[40].old_bearing = 222;
    show(0);
    bearing = 90;
    power = 10;
    plat::clear_sound_log();
    click(575, 430);
    EXPECT_EQ(item[0].ammo, 1);
    EXPECT_EQ(item[0].old_power, 10);
    EXPECT_EQ(item[0].old_bearing, 90);
    ASSERT_EQ(plat::sound_log(), std::vector<std::string>{"SFXMissilelaunch"});
    EXPECT_EQ(shot[0].flag, 1);
    // The next side's first unit is selected with its own settings, and the panel shows them.
    EXPECT_EQ(cur_player, 1);
    EXPECT_EQ(cur_unit, 40);
    EXPECT_EQ(bearing, 222);
    EXPECT_EQ(power, 33);
    EXPECT_TRUE(glyphs_at(435, {4, 4, 4}));
}

TEST_F(PanelTest, FireDoesNothingWithoutALoadedLauncher) {
    put(1, CITY, 0, 100, 100, 2);
    put(2, FACTORY, 0, 150, 100, 3);
    put(3, SUB, 0, 200, 200, 0);
    for (int slot : {1, 2, 3}) {
        show(slot);
        plat::clear_sound_log();
        click(575, 430);
        EXPECT_TRUE(plat::sound_log().empty()) << "slot " << slot;
        EXPECT_EQ(cur_unit, slot);
        EXPECT_EQ(cur_player, 0);
        EXPECT_EQ(shot[0].flag, 0);
    }
    EXPECT_EQ(item[2].ammo, 3);
}

}  // namespace
}  // namespace vantor_test
