// The title screen: what it draws, the ten arrows with their inclusive click areas and limits,
// the player boxes, the start control and the redraws on release and repaint.
#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "game_fixture.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

struct Arrow {
    const char* what;
    int x, y;   // drawn at; clicks answer in x .. x1, y .. y + 25
    int x1;
    bool increase;
    // The arrows at x 420 are drawn as narrow as they answer, from their own cells of the sheet.
    int width() const { return x1 - x + 1 == 16 ? 16 : 25; }
    int sheet_x() const { return width() == 16 ? 80 : increase ? 25 : 0; }
};

// In the order clicktitle tests them.
const Arrow kArrows[10] = {
    {"previous map", 155, 195, 180, false}, {"next map", 420, 195, 435, true},
    {"fewer cities", 155, 240, 180, false}, {"more cities", 265, 240, 290, true},
    {"fewer subs", 155, 285, 180, false},   {"more subs", 265, 285, 290, true},
    {"fewer silos", 310, 240, 335, false},  {"more silos", 420, 240, 435, true},
    {"lower skill", 310, 285, 335, false},  {"higher skill", 420, 285, 435, true},
};

// Every option the title changes, to see what a click did.
struct Options {
    int map, city, sub, silo, factory, skill, players;
    bool cpu[4];
    bool operator==(const Options& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

Options options() {
    Options o{};
    o.map = cur_map;
    o.city = num_city;
    o.sub = num_sub;
    o.silo = num_silo;
    o.factory = num_factory;
    o.skill = cpu_skill;
    o.players = num_players;
    for (int i = 0; i < 4; i++) o.cpu[i] = cpu_player[i];
    return o;
}

std::ostream& operator<<(std::ostream& os, const Options& o) {
    return os << "map " << o.map << " city " << o.city << " sub " << o.sub << " silo " << o.silo << " factory "
              << o.factory << " skill " << o.skill << " players " << o.players << " cpu " << o.cpu[0] << o.cpu[1]
              << o.cpu[2] << o.cpu[3];
}

// What an accepted click on arrow b does to the options.
Options changed(Options o, int b) {
    switch (b) {
        case 0: o.map--; break;
        case 1: o.map++; break;
        case 2: o.city--; break;
        case 3: o.city++; break;
        case 4: o.sub--; break;
        case 5: o.sub++; break;
        case 6: o.silo -= 2, o.factory--; break;
        case 7: o.silo += 2, o.factory++; break;
        case 8: o.skill -= 5; break;
        case 9: o.skill += 5; break;
    }
    return o;
}

class TitleTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        to_title();
        ASSERT_GE(num_maps, 3) << "the Quad map and at least two built in";
        plat::clear_sound_log();
    }

    void down(int x, int y) { WindowFunction(hwnd, plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y)); }
    void up(int x, int y) { WindowFunction(hwnd, plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y)); }

    // Options in the middle of every range, so that every arrow is accepted.
    void middle_options() {
        cur_map = 1;
        num_city = 10;
        num_sub = 2;
        num_silo = 4;
        num_factory = 2;
        cpu_skill = 20;
    }

    // Whether the window's w x h rectangle at (x, y) is that of bitmap at (sx, sy).
    ::testing::AssertionResult shows(int x, int y, int w, int h, const plat::Bitmap* bitmap, int sx, int sy) const {
        for (int dy = 0; dy < h; dy++)
            for (int dx = 0; dx < w; dx++)
                if (window_pixel(x + dx, y + dy) != bitmap->pixels[(sy + dy) * bitmap->width + sx + dx])
                    return ::testing::AssertionFailure()
                           << "window " << x + dx << "," << y + dy << " differs from the picture at " << sx + dx << ","
                           << sy + dy;
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult sprite(int x, int y, int sx, int sy) const {
        return shows(x, y, 25, 25, hPanelgfx, sx, sy);
    }
    // An arrow button raised (sheet row 50) or pressed (row 75).
    ::testing::AssertionResult arrow(const Arrow& a, int row) const {
        return shows(a.x, a.y, a.width(), 25, hPanelgfx, a.sheet_x(), row);
    }
    ::testing::AssertionResult text(int x, int y, const std::string& s) const {
        for (size_t i = 0; i < s.size(); i++) {
            char c = s[i];
            int g = c == '.' ? 1 : c >= '0' && c <= '9' ? c - 46 : c >= 'A' && c <= 'Z' ? c - 53 : 0;
            auto r = shows(x + 7 * static_cast<int>(i), y, 7, 16, hFontgfx, 7 * g, 0);
            if (!r) return r << " (character " << i << " of \"" << s << "\")";
        }
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult arrows_raised() const {
        for (const Arrow& a : kArrows) {
            auto r = arrow(a, 50);
            if (!r) return r << " (" << a.what << ")";
        }
        return ::testing::AssertionSuccess();
    }
    size_t sounds() const { return plat::sound_log().size(); }
};

std::string padded(const std::string& name) { return name + std::string(31 - name.size(), ' '); }

TEST_F(TitleTest, DefaultsOnScreen) {
    EXPECT_EQ(cur_map, 0);
    EXPECT_EQ(num_city, 15);
    EXPECT_EQ(num_sub, 3);
    EXPECT_EQ(num_silo, 6);
    EXPECT_EQ(num_factory, 3);
    EXPECT_EQ(cpu_skill, 20);
    EXPECT_EQ(num_players, 4);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_TRUE(text(190, 200, padded("QUAD")));
    EXPECT_TRUE(text(243, 245, "15"));
    EXPECT_TRUE(text(243, 290, "03"));
    EXPECT_TRUE(text(398, 245, "06"));
    EXPECT_TRUE(text(398, 290, "20"));
    for (int i = 0; i < 4; i++) EXPECT_TRUE(sprite(155 + 30 * i, 330, 25 * i, 400)) << "human box " << i;
    EXPECT_TRUE(arrows_raised());
}

// Outside the name, the numbers, the boxes and the arrows the map area is the title picture.
TEST_F(TitleTest, TheRestIsTheTitlePicture) {
    std::vector<bool> drawn(MAP_WIDTH * MAP_HEIGHT);
    auto mark = [&](int x, int y, int w, int h) {
        for (int dy = 0; dy < h; dy++)
            for (int dx = 0; dx < w; dx++) drawn[(y + dy) * MAP_WIDTH + x + dx] = true;
    };
    mark(190, 200, 31 * 7, 16);
    for (auto [x, y] : {std::pair{243, 245}, {243, 290}, {398, 245}, {398, 290}}) mark(x, y, 14, 16);
    for (int i = 0; i < 4; i++) mark(155 + 30 * i, 330, 25, 25);
    for (const Arrow& a : kArrows) mark(a.x, a.y, a.width(), 25);
    int differing = 0;
    for (int y = 0; y < MAP_HEIGHT; y++)
        for (int x = 0; x < MAP_WIDTH; x++)
            if (!drawn[y * MAP_WIDTH + x] && window_pixel(x, y) != hTitlegfx->pixels[y * MAP_WIDTH + x]) differing++;
    EXPECT_EQ(differing, 0);
}

// Each arrow from the middle of its range to its limit: every accepted press sounds and shows the
// pressed arrow until the release; the press at the limit changes nothing, sounds nothing and
// leaves the arrow raised.
TEST_F(TitleTest, EveryArrowStopsSilentlyAtItsLimit) {
    const int presses_to_limit[10] = {1, 0, 9, 10, 2, 3, 2, 3, 4, 4};  // from middle_options
    for (int b = 0; b < 10; b++) {
        const Arrow& a = kArrows[b];
        SCOPED_TRACE(a.what);
        middle_options();
        if (b == 1) cur_map = static_cast<uint8_t>(num_maps - 1);
        int cx = a.x + 5, cy = a.y + 12;
        for (int n = 0; n < presses_to_limit[b]; n++) {
            Options before = options();
            plat::clear_sound_log();
            down(cx, cy);
            EXPECT_EQ(options(), changed(before, b));
            ASSERT_EQ(sounds(), 1u);
            EXPECT_EQ(plat::sound_log()[0], "SFXClick");
            EXPECT_TRUE(arrow(a, 75)) << "pressed";
            up(cx, cy);
            EXPECT_TRUE(arrow(a, 50)) << "raised again";
        }
        Options at_limit = options();
        plat::clear_sound_log();
        down(cx, cy);
        EXPECT_EQ(options(), at_limit);
        EXPECT_EQ(sounds(), 0u);
        EXPECT_TRUE(arrows_raised());
        up(cx, cy);
    }
    // The limits themselves.
    middle_options();
    for (int n = 0; n < 30; n++) click(270, 250), click(270, 290), click(425, 250), click(425, 290);
    EXPECT_EQ(num_city, 20);
    EXPECT_EQ(num_sub, 5);
    EXPECT_EQ(num_silo, 10);
    EXPECT_EQ(num_factory, 5);
    EXPECT_EQ(cpu_skill, 40);
    for (int n = 0; n < 30; n++) click(160, 250), click(160, 290), click(315, 250), click(315, 290), click(160, 200);
    EXPECT_EQ(num_city, 1);
    EXPECT_EQ(num_sub, 0);
    EXPECT_EQ(num_silo, 0);
    EXPECT_EQ(num_factory, 0);
    EXPECT_EQ(cpu_skill, 0);
    EXPECT_EQ(cur_map, 0);
    EXPECT_TRUE(text(243, 245, "01"));
    EXPECT_TRUE(text(243, 290, "00"));
    EXPECT_TRUE(text(398, 245, "00"));
    EXPECT_TRUE(text(398, 290, "00"));
}

// Every corner of every click area answers; one pixel beyond any edge does nothing.
TEST_F(TitleTest, ClickAreasAreInclusiveAndNoWider) {
    for (int b = 0; b < 10; b++) {
        const Arrow& a = kArrows[b];
        SCOPED_TRACE(a.what);
        for (auto [x, y] : {std::pair{a.x, a.y}, {a.x1, a.y}, {a.x, a.y + 25}, {a.x1, a.y + 25}}) {
            middle_options();
            Options before = options();
            plat::clear_sound_log();
            click(x, y);
            EXPECT_EQ(options(), changed(before, b)) << "at " << x << "," << y;
            EXPECT_EQ(sounds(), 1u);
        }
        for (auto [x, y] : {std::pair{a.x - 1, a.y + 12}, {a.x1 + 1, a.y + 12}, {a.x + 5, a.y - 1}, {a.x + 5, a.y + 26}}) {
            middle_options();
            Options before = options();
            plat::clear_sound_log();
            click(x, y);
            EXPECT_EQ(options(), before) << "at " << x << "," << y;
            EXPECT_EQ(sounds(), 0u) << "at " << x << "," << y;
        }
    }
}

// The arrows at x 420 answer only to x 420..435, and are drawn no wider: beside them is the title.
TEST_F(TitleTest, ArrowsAt420AnswerOnlyTo435) {
    for (int y : {207, 252, 297}) {
        EXPECT_TRUE(shows(436, y - 12, 9, 25, hTitlegfx, 436, y - 12));
        for (int x = 436; x <= 444; x++) {
            middle_options();
            Options before = options();
            plat::clear_sound_log();
            down(x, y);
            EXPECT_EQ(options(), before) << x << "," << y;
            EXPECT_EQ(sounds(), 0u);
            EXPECT_TRUE(arrows_raised());
            up(x, y);
        }
    }
}

TEST_F(TitleTest, ReleaseAnywhereRedrawsEveryArrowRaised) {
    middle_options();
    down(160, 250);
    EXPECT_TRUE(sprite(155, 240, 0, 75));
    up(5, 5);
    EXPECT_TRUE(arrows_raised());
}

TEST_F(TitleTest, SingleMapRefusesBothMapArrows) {
    num_maps = 1;
    cur_map = 0;
    click(160, 200);
    click(425, 200);
    EXPECT_EQ(cur_map, 0);
    EXPECT_EQ(sounds(), 0u);
}

TEST_F(TitleTest, MapArrowsShowTheChosenName) {
    click(425, 200);
    EXPECT_EQ(cur_map, 1);
    std::string name = filelist[1].letter;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(text(190, 200, padded(name)));
    // A longer name shows its first 31 characters, the end of the line blank after a short one.
    std::strcpy(filelist[1].letter, "the.long.name.of.a.map.0123456789xyz");
    titleinfo();
    EXPECT_TRUE(text(190, 200, "THE.LONG.NAME.OF.A.MAP.01234567"));
    EXPECT_TRUE(shows(190 + 31 * 7, 200, 7, 16, hTitlegfx, 190 + 31 * 7, 200)) << "no 32nd character";
}

// A room code's dash is a bar at mid-height, not the blank the rules' texts draw for it.
TEST_F(TitleTest, AnOnlineLabelShowsItsDash) {
    std::strcpy(online_label, "K7QM-2XPA RED");
    titleinfo();
    EXPECT_TRUE(text(190, 200, "K7QM"));
    EXPECT_TRUE(text(190 + 5 * 7, 200, "2XPA RED"));
    int on_row8 = 0, elsewhere = 0;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 7; x++)
            if (window_pixel(190 + 4 * 7 + x, 200 + y) == 0x00FFFFFFu) ++(y == 8 ? on_row8 : elsewhere);
    EXPECT_EQ(on_row8, 3);
    EXPECT_EQ(elsewhere, 0);
}

TEST_F(TitleTest, SkillIsDrawnWithTwoDigits) {
    for (int n = 0; n < 3; n++) click(315, 290);
    EXPECT_EQ(cpu_skill, 5);
    EXPECT_TRUE(text(398, 290, "05"));
}

// Boxes 0 and 1 only switch between human and computer, anywhere in area A.
TEST_F(TitleTest, AreaATogglesBoxesZeroAndOne) {
    for (int x : {155, 184}) {
        click(x, 330);
        EXPECT_TRUE(cpu_player[0]) << x;
        EXPECT_TRUE(sprite(155, 330, 0, 425));
        click(x, 355);
        EXPECT_FALSE(cpu_player[0]) << x;
    }
    for (int x : {185, 210}) {
        click(x, 340);
        EXPECT_TRUE(cpu_player[1]) << x;
        EXPECT_TRUE(sprite(185, 330, 25, 425));
        click(x, 340);
        EXPECT_FALSE(cpu_player[1]) << x;
    }
    EXPECT_EQ(sounds(), 8u);
    EXPECT_EQ(num_players, 4);
    // Outside both areas, and in the gap between them.
    for (auto [x, y] : {std::pair{154, 340}, {211, 340}, {214, 340}, {271, 340}, {170, 329}, {170, 356}}) {
        Options before = options();
        click(x, y);
        EXPECT_EQ(options(), before) << x << "," << y;
    }
    EXPECT_EQ(sounds(), 8u);
}

TEST_F(TitleTest, PlayerBoxCycle) {
    auto box = [&](int k) { click(155 + 30 * k + 10, 340); };
    box(3);  // human -> computer
    EXPECT_TRUE(cpu_player[3]);
    EXPECT_EQ(num_players, 4);
    EXPECT_TRUE(sprite(245, 330, 75, 425));
    box(3);  // computer, last -> absent
    EXPECT_EQ(num_players, 3);
    EXPECT_TRUE(cpu_player[3]);
    EXPECT_TRUE(sprite(245, 330, 0, 375));
    box(2);
    box(2);
    EXPECT_EQ(num_players, 2);
    EXPECT_TRUE(cpu_player[2]);
    EXPECT_TRUE(sprite(215, 330, 0, 375));
    box(3);  // behind an absent box: only its hidden flag
    EXPECT_EQ(num_players, 2);
    EXPECT_FALSE(cpu_player[3]);
    EXPECT_TRUE(sprite(245, 330, 0, 375));
    box(2);  // first absent box with its flag set: back as a human
    EXPECT_EQ(num_players, 3);
    EXPECT_FALSE(cpu_player[2]);
    EXPECT_TRUE(sprite(215, 330, 50, 400));
    // Box 3 now has its flag clear: two clicks bring it back.
    box(3);
    EXPECT_EQ(num_players, 3);
    EXPECT_TRUE(cpu_player[3]);
    box(3);
    EXPECT_EQ(num_players, 4);
    EXPECT_FALSE(cpu_player[3]);
    EXPECT_TRUE(sprite(245, 330, 75, 400));
    // Box 2 with box 3 in the game switches only between human and computer.
    box(2);
    box(2);
    box(2);
    EXPECT_EQ(num_players, 4);
    EXPECT_TRUE(cpu_player[2]);
    EXPECT_EQ(sounds(), 11u);
}

TEST_F(TitleTest, StartWithoutLaunchersSoundsAndStays) {
    for (int n = 0; n < 3; n++) click(160, 290), click(315, 250);
    ASSERT_EQ(num_sub, 0);
    ASSERT_EQ(num_silo, 0);
    plat::clear_sound_log();
    for (auto [x, y] : {std::pair{310, 330}, {445, 355}, {380, 340}}) click(x, y);
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_EQ(plat::sound_log(), std::vector<std::string>(3, "SFXClick"));
    EXPECT_EQ(hMainmap, nullptr);
    // Just outside the start control.
    num_sub = 1;
    for (auto [x, y] : {std::pair{309, 340}, {446, 340}, {380, 329}, {380, 356}}) click(x, y);
    EXPECT_EQ(timer_mode, MODE_TITLE);
    // One submarine is enough.
    plat::clear_sound_log();
    click(445, 355);
    EXPECT_EQ(timer_mode, MODE_PLACING);
    EXPECT_EQ(plat::sound_log(), (std::vector<std::string>{"SFXClick", "SFXAppearing"}));
}

TEST_F(TitleTest, SilosAloneAreEnoughToStart) {
    for (int n = 0; n < 3; n++) click(160, 290);
    ASSERT_EQ(num_sub, 0);
    click(380, 340);
    EXPECT_EQ(timer_mode, MODE_PLACING);
}

// A repaint draws the picture, the values, raised arrows and the plain panel background.
TEST_F(TitleTest, RepaintRedrawsTheWholeScreen) {
    middle_options();
    down(160, 250);
    for (int y = 0; y < CLIENT_HEIGHT; y++)
        for (int x = 0; x < CLIENT_WIDTH; x++) plat::set_pixel(WinDC, x, y, 0x123456);
    paint();
    EXPECT_TRUE(shows(0, 0, 100, 190, hTitlegfx, 0, 0));
    EXPECT_TRUE(text(243, 245, "09"));
    EXPECT_TRUE(text(398, 245, "04"));
    EXPECT_TRUE(arrows_raised());
    EXPECT_TRUE(shows(0, 400, 600, 60, hPanelimage, 0, 0));
    EXPECT_EQ(timer_mode, MODE_TITLE);
}

// The title has no tick work: ticks change nothing on it.
TEST_F(TitleTest, TicksDoNothing) {
    Options before = options();
    std::vector<plat::Colour> pixels = WinDC->bitmap->pixels;
    tick(50);
    EXPECT_EQ(options(), before);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_EQ(WinDC->bitmap->pixels, pixels);
    EXPECT_EQ(sounds(), 0u);
}

}  // namespace
}  // namespace vantor_test
