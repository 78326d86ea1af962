// The intro and the game-over sequence: their timing, what they draw, the clicks they take, the
// repaint of the intro, and the release of a game's map pictures.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "game_fixture.h"
#include "platform/null.h"

namespace vantor_test {
namespace {

const int kTextSlots[] = {0, 2, 4, 5, 7, 8, 10, 11, 12, 13, 14, 15};

bool is_text_slot(int s) {
    for (int t : kTextSlots)
        if (t == s) return true;
    return false;
}

class ScreensTest : public GameTest {
protected:
    std::vector<plat::Colour> window() const { return WinDC->bitmap->pixels; }

    void scribble() {
        for (int y = 0; y < CLIENT_HEIGHT; y++)
            for (int x = 0; x < CLIENT_WIDTH; x++) plat::set_pixel(WinDC, x, y, 0x00808080);
    }

    bool area_is(int x0, int y0, int w, int h, plat::Colour c) const {
        for (int y = y0; y < y0 + h; y++)
            for (int x = x0; x < x0 + w; x++)
                if (window_pixel(x, y) != c) return false;
        return true;
    }

    bool area_shows(int x0, int y0, int w, int h, const plat::Bitmap* b, int sx, int sy) const {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (window_pixel(x0 + x, y0 + y) != b->pixels[(sy + y) * b->width + sx + x]) return false;
        return true;
    }

    // The glyph whose cell the window shows at (x, y), or -1 when it is none of the font's.
    int glyph_at(int x, int y) const {
        for (int g = 0; g < 40; g++)
            if (area_shows(x, y, 7, 16, hFontgfx, 7 * g, 0)) return g;
        return -1;
    }
};

using IntroTest = ScreensTest;

TEST_F(IntroTest, StartsBlackWithTheLaunchSound) {
    EXPECT_EQ(timer_mode, MODE_INTRO);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_FALSE(introover);
    EXPECT_EQ(plat::sound_log(), std::vector<std::string>{"SFXMissilelaunch"});
    EXPECT_TRUE(area_is(0, 0, MAP_WIDTH, MAP_HEIGHT, 0));
    EXPECT_TRUE(area_shows(0, 400, 600, 60, hPanelimage, 0, 0));
}

// Tick n draws slot n - 1 if it holds a line: a row of font cells from (12, 14 + 20 s), and nothing
// else anywhere. Slot 19 lets clicks in.
TEST_F(IntroTest, OneLineSlotPerTick) {
    for (int s = 0; s < 24; s++) {
        std::vector<plat::Colour> before = window();
        tick();
        EXPECT_EQ(cpu_timer, s + 1);
        EXPECT_EQ(introover, s >= 19) << "after slot " << s;
        int changed = 0, x_min = MAP_WIDTH, y_min = MAP_HEIGHT, y_max = -1;
        for (int y = 0; y < CLIENT_HEIGHT; y++) {
            for (int x = 0; x < CLIENT_WIDTH; x++) {
                if (window_pixel(x, y) == before[y * CLIENT_WIDTH + x]) continue;
                changed++;
                x_min = std::min(x_min, x), y_min = std::min(y_min, y), y_max = std::max(y_max, y);
            }
        }
        if (!is_text_slot(s)) {
            EXPECT_EQ(changed, 0) << "slot " << s << " holds no line";
            continue;
        }
        int y = 14 + 20 * s;
        ASSERT_GT(changed, 0) << "slot " << s;
        EXPECT_GE(y_min, y);
        EXPECT_LT(y_max, y + 16);
        EXPECT_GE(x_min, 12);
        // The whole line is font cells: the first one a visible character, none cut.
        EXPECT_GT(glyph_at(12, y), 0) << "slot " << s << " starts with a blank";
        for (int x = 12; x + 7 <= MAP_WIDTH; x += 7) EXPECT_GE(glyph_at(x, y), 0) << "slot " << s << " x " << x;
    }
    EXPECT_EQ(timer_mode, MODE_INTRO) << "the intro waits for a click";
}

TEST_F(IntroTest, ClicksOnlyFromTheTwentiethTick) {
    plat::clear_sound_log();
    for (int n = 0; n < 20; n++) {
        std::vector<plat::Colour> before = window();
        click(300, 200);
        click(5, 455);
        EXPECT_EQ(timer_mode, MODE_INTRO) << "after " << n << " ticks";
        EXPECT_EQ(window(), before);
        tick();
    }
    EXPECT_TRUE(plat::sound_log().empty());
    EXPECT_TRUE(introover);
    std::vector<plat::Colour> intro = window();
    std::vector<plat::Colour> panel(intro.begin() + 400 * CLIENT_WIDTH, intro.end());
    click(599, 459);
    EXPECT_EQ(plat::sound_log(), std::vector<std::string>{"SFXBoom"});
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_TRUE(area_shows(0, 0, 600, 190, hTitlegfx, 0, 0));
    std::vector<plat::Colour> title = window();
    EXPECT_EQ(std::vector<plat::Colour>(title.begin() + 400 * CLIENT_WIDTH, title.end()), panel)
        << "the panel strip is left as it was";
    // The click is not passed on to the title that it opened.
    EXPECT_EQ(num_city, 15);
}

TEST_F(IntroTest, ItWaitsForAClickForever) {
    tick(300);
    EXPECT_EQ(timer_mode, MODE_INTRO);
    EXPECT_EQ(cpu_timer, 300);
    click(300, 200);
    EXPECT_EQ(timer_mode, MODE_TITLE);
}

// A repaint puts back exactly what the ticks drew, and the intro goes on from where it was.
TEST_F(IntroTest, RepaintRedrawsTheLinesSoFar) {
    int done = 0;
    for (int n : {0, 1, 3, 6, 9, 16, 19, 20, 35}) {
        tick(n - done);
        done = n;
        std::vector<plat::Colour> shown = window();
        bool over = introover;
        plat::clear_sound_log();
        scribble();
        paint();
        EXPECT_EQ(window(), shown) << "after " << n << " ticks";
        EXPECT_EQ(cpu_timer, n);
        EXPECT_EQ(introover, over);
        EXPECT_TRUE(plat::sound_log().empty());
    }
    // A repaint after slot 19 sets introover again.
    introover = false;
    paint();
    EXPECT_TRUE(introover);
}

TEST_F(IntroTest, RepaintBeforeTheLastSlotKeepsClicksOut) {
    tick(15);
    paint();
    EXPECT_FALSE(introover);
    click(300, 200);
    EXPECT_EQ(timer_mode, MODE_INTRO);
    tick(4);
    std::vector<plat::Colour> shown = window();
    EXPECT_FALSE(introover);
    tick();
    EXPECT_TRUE(introover);
    EXPECT_EQ(window(), shown) << "slot 19 draws nothing";
}

class GameOverTest : public ScreensTest {
protected:
    // Ticks once; returns the sounds that tick started.
    std::vector<std::string> tick_sounds() {
        plat::clear_sound_log();
        tick();
        return plat::sound_log();
    }

    bool cursor_overlaps_letters() const {
        const weapon& w = item[cur_unit];
        return w.x - 2 < 277 + 49 && w.x + 11 > 277 && w.y - 2 < 66 && w.y + 11 > 50;
    }
};

TEST_F(GameOverTest, AbortSpellsTheEndAndReturnsToTheTitle) {
    start_game();
    plat::clear_sound_log();
    click(300, 430);
    ASSERT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_EQ(plat::sound_log(), std::vector<std::string>{"SFXBoom"});
    ASSERT_FALSE(cursor_overlaps_letters()) << "this seed puts the cursor where the letters go";
    tick(48);
    // The grey-out of every unit is over by now: what sounds from here on is the lettering.
    EXPECT_EQ(tick_sounds().size(), 0u) << "T 49";
    ASSERT_EQ(cpu_timer, 49);
    // Clicks and releases are ignored meanwhile, and a repaint draws nothing.
    click(380, 340);
    click(300, 430);
    click(160, 250);
    std::vector<plat::Colour> before = window();
    scribble();
    paint();
    EXPECT_TRUE(area_is(0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, 0x00808080));
    for (size_t i = 0; i < before.size(); i++) WinDC->bitmap->pixels[i] = before[i];
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_TRUE(plat::sound_log().empty());

    const char* word = "THE END";
    for (int i = 0; i < 7; i++) {
        std::vector<plat::Colour> under = window();
        EXPECT_EQ(tick_sounds(), std::vector<std::string>{"SFXGreyout"}) << "T " << 50 + i;
        char c = word[i];
        int g = c >= 'A' && c <= 'Z' ? c - 53 : 0;
        for (int y = 0; y < MAP_HEIGHT; y++) {
            for (int x = 0; x < MAP_WIDTH; x++) {
                plat::Colour was = under[y * CLIENT_WIDTH + x];
                bool in_cell = x >= 277 + 7 * i && x < 284 + 7 * i && y >= 50 && y < 66;
                plat::Colour want = in_cell ? was | hFontgfx->pixels[(y - 50) * 280 + 7 * g + x - 277 - 7 * i] : was;
                const weapon& w = item[cur_unit];
                bool cursor = x >= w.x - 2 && x < w.x + 11 && y >= w.y - 2 && y < w.y + 11;
                if (!cursor) {
                    ASSERT_EQ(window_pixel(x, y), want) << "T " << 50 + i << " at " << x << "," << y;
                }
            }
        }
    }
    EXPECT_EQ(cpu_timer, 56);
    for (int t = 57; t <= 99; t++) EXPECT_TRUE(tick_sounds().empty()) << "T " << t;
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_NE(hMainmap, nullptr);

    tick();
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_EQ(cpu_timer, 0);
    EXPECT_EQ(hMainmap, nullptr);
    EXPECT_EQ(hTacticalmap, nullptr);
    EXPECT_EQ(FullDC, nullptr);
    EXPECT_EQ(hFullimage, nullptr);
    EXPECT_EQ(TactDC->bitmap, nullptr) << "the territory picture is taken out before it is deleted";
    EXPECT_TRUE(area_is(5, 405, 100, 50, 0)) << "the close-up box is blacked out";
    EXPECT_TRUE(area_shows(0, 0, 600, 190, hTitlegfx, 0, 0));
    EXPECT_TRUE(area_shows(155, 195, 25, 25, hPanelgfx, 0, 50));
    // Outside the close-up box the panel still shows the last game's.
    EXPECT_FALSE(area_shows(0, 400, 600, 60, hPanelimage, 0, 0));
}

TEST_F(GameOverTest, TheLetterCellsAreOredOntoTheMap) {
    start_game();
    click(300, 430);
    ASSERT_FALSE(cursor_overlaps_letters());
    tick(49);
    // A known picture under the letters: one colour per cell column, so that OR shows.
    for (int y = 50; y < 66; y++)
        for (int x = 277; x < 326; x++) plat::set_pixel(WinDC, x, y, 0x00102030u + static_cast<unsigned>(x - 277));
    tick(7);
    const char* word = "THE END";
    for (int i = 0; i < 7; i++) {
        int g = word[i] == ' ' ? 0 : word[i] - 53;
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 7; x++) {
                plat::Colour under = 0x00102030u + static_cast<unsigned>(7 * i + x);
                EXPECT_EQ(window_pixel(277 + 7 * i + x, 50 + y), under | hFontgfx->pixels[y * 280 + 7 * g + x]);
            }
    }
    EXPECT_TRUE(area_is(326, 50, 1, 16, window_pixel(326, 50))) << "nothing past the D";
}

// A game won or lost runs the same sequence; the grey-out may still sound meanwhile.
TEST_F(GameOverTest, EliminationEndsTheSameWay) {
    start_game();
    uint8_t survivor = cur_player;
    for (uint8_t p = 0; p < 4; p++)
        if (p != survivor) playerlost(p);
    ASSERT_EQ(timer_mode, MODE_GAMEOVER);
    EXPECT_FALSE(justaborted);
    tick(49);
    for (int t = 50; t <= 56; t++) {
        std::vector<std::string> sounds = tick_sounds();
        ASSERT_FALSE(sounds.empty()) << "T " << t;
        EXPECT_EQ(sounds[0], "SFXGreyout") << "T " << t;
    }
    tick(43);
    EXPECT_EQ(timer_mode, MODE_GAMEOVER);
    tick();
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_EQ(hMainmap, nullptr);
    EXPECT_EQ(FullDC, nullptr);
}

TEST_F(GameOverTest, ALaterGameStartsAfresh) {
    start_game();
    for (int game = 0; game < 3; game++) {
        click(300, 430);
        run_until(MODE_TITLE, 100);
        plat::clear_sound_log();
        click(380, 340);
        ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
        EXPECT_EQ(plat::sound_log(), (std::vector<std::string>{"SFXClick", "SFXAppearing"}));
        ASSERT_NE(hMainmap, nullptr);
        ASSERT_NE(FullDC, nullptr);
        EXPECT_EQ(TactDC->bitmap, hTacticalmap);
        EXPECT_TRUE(area_shows(0, 0, 600, 400, hMainmap, 0, 0));
        run_until(MODE_PLAYING, 200);
        for (int b = 0; b < num_players; b++) EXPECT_TRUE(alive[b]);
    }
}

// The caption follows the game, and back on the title its line names the result until a click.
TEST_F(GameOverTest, CaptionAndTitleLineTellTheOutcome) {
    struct Case {
        const char* name;
        int survivors;  // sides left alive by eliminations; -1 for the abort button
        std::string caption, line;
    };
    for (const Case& c : {Case{"abort", -1, "Vantor - game aborted", "GAME ABORTED"},
                          Case{"one left", 1, "", ""}, Case{"none left", 0, "Vantor - no side left", "NO SIDE LEFT"}}) {
        SCOPED_TRACE(c.name);
        start_game();
        uint8_t first = cur_player;
        std::string caption = std::string("Vantor - ") + sidename(first) + " to fire";
        EXPECT_EQ(plat::window_caption(hwnd), caption);
        std::string caption_won = std::string("Vantor - ") + sidename(first) + " wins";
        std::string line_won = std::string(sidename(first)) + " WINS";
        for (char& ch : line_won) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (c.survivors < 0) {
            click(300, 430);
        } else {
            for (uint8_t p = 0; p < 4; p++)
                if (p != first || c.survivors == 0) playerlost(p);
        }
        ASSERT_EQ(timer_mode, MODE_GAMEOVER);
        EXPECT_EQ(plat::window_caption(hwnd), c.survivors == 1 ? caption_won : c.caption);
        run_until(MODE_TITLE, 100);
        EXPECT_EQ(plat::window_caption(hwnd), "Vantor");
        EXPECT_EQ(std::string(title_news), c.survivors == 1 ? line_won : c.line);
        click(5, 5);
        EXPECT_STREQ(title_news, "") << "a click clears the line";
    }
}

TEST_F(ScreensTest, EliminationsNameTheirCauseUntilTheNextLaunch) {
    start_game();
    uint8_t out = static_cast<uint8_t>((cur_player + 1) % 4);
    noteout(out, OUT_CAPITAL_DESPAIR);
    playerlost(out);
    std::string turn = std::string("Vantor - ") + sidename(cur_player) + " to fire";
    EXPECT_EQ(plat::window_caption(hwnd), turn + " - " + sidename(out) + " out, capital in despair");
    clearnews();
    showturn();
    EXPECT_EQ(plat::window_caption(hwnd), turn);
}

TEST_F(ScreensTest, StartWithoutLaunchersSaysSo) {
    to_title();
    num_silo = num_sub = num_factory = 0;
    click(380, 340);
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_STREQ(title_news, "NO SILOS OR SUBMARINES");
    EXPECT_STREQ(title_message, "") << "the refusals of maps keep their own line";
}

}  // namespace
}  // namespace vantor_test
