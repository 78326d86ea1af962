// blittext and PlayResource on the running game: the glyph of every kind of character, exactly
// len cells of exactly 7 x 16 pixels, and sounds found by name.
#include <string>

#include "asset_bytes.h"
#include "game_fixture.h"
#include "platform/null.h"
#include "platform/resources.h"

namespace vantor_test {
namespace {

constexpr plat::Colour kPaper = 0x00336699;  // what the window shows where nothing was drawn
constexpr int kX = 100, kY = 120;

class TextTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        const plat::Resource* res = plat::find_resource("BITMAP", "Fontgfx");
        ASSERT_NE(res, nullptr);
        std::string why;
        auto font = parse_bmp(res->data, res->size, &why);
        ASSERT_TRUE(font) << why;
        font_ = *font;
        // Paper under the text, so that a black cell shows that it was drawn.
        for (int y = kY - 4; y < kY + 20; y++)
            for (int x = 0; x < MAP_WIDTH; x++) plat::set_pixel(WinDC, x, y, kPaper);
    }

    // Whether the 7 x 16 cell at window (x, y) is glyph g of the font file.
    ::testing::AssertionResult cell_is_glyph(int x, int y, int g) const {
        for (int dy = 0; dy < 16; dy++) {
            for (int dx = 0; dx < 7; dx++) {
                if (window_pixel(x + dx, y + dy) != font_.at(7 * g + dx, dy))
                    return ::testing::AssertionFailure()
                           << "cell at " << x << "," << y << " is not glyph " << g << " (pixel " << dx << "," << dy << ")";
            }
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult untouched(int x0, int y0, int w, int h) const {
        for (int y = y0; y < y0 + h; y++)
            for (int x = x0; x < x0 + w; x++)
                if (window_pixel(x, y) != kPaper)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " was drawn";
        return ::testing::AssertionSuccess();
    }

    RawBmp font_;
};

TEST_F(TextTest, GlyphOrderOfTheFont) {
    blittext(kX, kY, "0.AZ$", 5);
    const int glyphs[] = {2, 1, 12, 37, 39};
    for (int i = 0; i < 5; i++) EXPECT_TRUE(cell_is_glyph(kX + 7 * i, kY, glyphs[i])) << "character " << i;
}

TEST_F(TextTest, EveryDigitLetterAndSign) {
    std::string all = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    blittext(kX, kY, all.data(), static_cast<uint8_t>(all.size()));
    for (int i = 0; i < 36; i++) EXPECT_TRUE(cell_is_glyph(kX + 7 * i, kY, 2 + i)) << all[i];
    const char pound[] = {static_cast<char>(0xA3), '$'};
    blittext(kX, kY, pound, 2);
    EXPECT_TRUE(cell_is_glyph(kX, kY, 38));
    EXPECT_TRUE(cell_is_glyph(kX + 7, kY, 39));
}

TEST_F(TextTest, LowerCaseDrawsTheCapitals) {
    std::string lower = "abcdefghijklmnopqrstuvwxyz";
    blittext(kX, kY, lower.data(), 26);
    for (int i = 0; i < 26; i++) EXPECT_TRUE(cell_is_glyph(kX + 7 * i, kY, 12 + i)) << lower[i];
}

// Every byte next to a range that has glyphs, and a few beyond: each a blank (black) cell.
TEST_F(TextTest, OtherCharactersDrawBlank) {
    const char others[] = {' ', ',', '-', '/', ':', '@', '[', '`', '{', '#', '%', '\x7f',
                           '\xa2', '\xa4', '\x80', '\xff', '\x01', '\t', '\'', '!'};
    blittext(kX, kY, others, sizeof others);
    for (size_t i = 0; i < sizeof others; i++) EXPECT_TRUE(cell_is_glyph(kX + 7 * static_cast<int>(i), kY, 0)) << i;
}

TEST_F(TextTest, LengthZeroDrawsNothing) {
    blittext(kX, kY, "ABC", 0);
    EXPECT_TRUE(untouched(0, kY - 4, MAP_WIDTH, 24));
}

TEST_F(TextTest, ExactlyLenGlyphsAndAZeroByteIsABlankCell) {
    const char text[] = {'A', '\0', 'B', 'C', 'D'};
    blittext(kX, kY, text, 3);
    EXPECT_TRUE(cell_is_glyph(kX, kY, 12));
    EXPECT_TRUE(cell_is_glyph(kX + 7, kY, 0));
    EXPECT_TRUE(cell_is_glyph(kX + 14, kY, 13));
    EXPECT_TRUE(untouched(kX + 21, kY - 4, MAP_WIDTH - kX - 21, 24)) << "C and D are past len";
}

// "888" drawn at x covers x .. x + 20 and rows y .. y + 15, nothing around it.
TEST_F(TextTest, EachGlyphAdvancesExactlySevenPixels) {
    blittext(kX, kY, "888", 3);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(cell_is_glyph(kX + 7 * i, kY, 10));
    EXPECT_TRUE(untouched(0, kY - 4, kX, 24));
    EXPECT_TRUE(untouched(kX + 21, kY - 4, MAP_WIDTH - kX - 21, 24));
    EXPECT_TRUE(untouched(kX, kY - 4, 21, 4));
    EXPECT_TRUE(untouched(kX, kY + 16, 21, 4));
}

// Text is a plain copy: what was under a cell does not show through, black included.
TEST_F(TextTest, CellsReplaceWhatWasUnder) {
    blittext(kX, kY, "WW", 2);
    blittext(kX, kY, ".", 1);
    EXPECT_TRUE(cell_is_glyph(kX, kY, 1));
    EXPECT_TRUE(cell_is_glyph(kX + 7, kY, 34));
}

TEST_F(TextTest, SoundsAreFoundByNameInAnyCase) {
    plat::clear_sound_log();
    PlayResource("sfxboom");
    PlayResource("SFXGREYOUT");
    PlayResource("SFXNothing");
    PlayResource("");
    ASSERT_EQ(plat::sound_log().size(), 2u) << "an unknown name plays nothing";
    EXPECT_EQ(plat::sound_log()[0], "SFXBoom");
    EXPECT_EQ(plat::sound_log()[1], "SFXGreyout");
    plat::clear_sound_log();
    for (const char* name : {"SFXAppearing", "SFXMissilelaunch", "SFXBoom", "SFXHit", "SFXGreyout", "SFXCursor",
                             "SFXClick"})
        PlayResource(name);
    EXPECT_EQ(plat::sound_log().size(), 7u);
}

}  // namespace
}  // namespace vantor_test
