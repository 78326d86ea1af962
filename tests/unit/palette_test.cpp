// The colour-blind palette: what it changes on the way to the screen, and that the game never sees
// it. Its colours are checked under simulated colour blindness by tools/palette/colourblind.py.
#include <vector>

#include "app/palette.h"
#include "game_fixture.h"
#include "replay/stream.h"

namespace vantor_test {
namespace {

using PaletteGameTest = GameTest;

TEST_F(PaletteGameTest, ItRecoloursIconsAndMarksBoxesOnlyOnTheWayToTheScreen) {
    start_game();
    std::vector<plat::Colour> picture(CLIENT_WIDTH * CLIENT_HEIGHT, 0x00406080u), out(picture.size());
    picture[100 * CLIENT_WIDTH + 50] = 0x0060A0FFu;   // a red icon ORed over land
    picture[420 * CLIENT_WIDTH + 560] = 0x000000FFu;  // the red Fire button
    picture[442 * CLIENT_WIDTH + 176] = 0x00008000u;  // a green side plate, half lit
    show_palette(picture.data(), out.data(), CLIENT_WIDTH, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT);
    EXPECT_EQ(out[100 * CLIENT_WIDTH + 50], kPaletteColours[0]);
    EXPECT_EQ(out[420 * CLIENT_WIDTH + 560], 0x000000FFu);
    EXPECT_EQ(out[442 * CLIENT_WIDTH + 176], (kPaletteColours[3] >> 1) & 0x7F7F7Fu);
    EXPECT_EQ(out[(430 + 9) * CLIENT_WIDTH + 175 + 28], 0x00FFFFFFu) << "the top of the side's G";
    EXPECT_EQ(out[(430 + 9) * CLIENT_WIDTH + 175 + 27], 0u) << "its rim";
}

// The key goes to the palette, never to the game: the recording and the picture are those of a game
// without it.
TEST_F(PaletteGameTest, TheGameIsTheSameWithThePaletteOnOrOff) {
    auto play = [&](bool press) {
        replay::Recording recorded;
        replay::Recorder recorder([&](replay::Recording&& game) { recorded = std::move(game); });
        replay::set_listener(&recorder);
        start_game();
        for (int t = 0; t < 60; t++) {
            plat::Message key{hwnd, plat::WM_KEYDOWN, 'C', 0};
            // As every message loop of the window does.
            if (press && t % 20 == 0 && !palette_key(key)) feed(hwnd, key.message, key.wParam, key.lParam);
            tick();
        }
        click(300, 430);
        run_until(MODE_TITLE, 200);
        replay::set_listener(nullptr);
        return std::make_pair(recorded, WinDC->bitmap->pixels);
    };
    auto [plain, plain_picture] = play(false);
    TearDown();
    SetUp();
    auto [pressed, pressed_picture] = play(true);
    EXPECT_TRUE(colourblind()) << "three presses leave it on";
    set_palette(false, true);
    EXPECT_EQ(pressed.inputs.size(), plain.inputs.size());
    EXPECT_EQ(pressed.checkpoints, plain.checkpoints);
    EXPECT_EQ(pressed.final_hash, plain.final_hash);
    EXPECT_TRUE(pressed_picture == plain_picture);
}

}  // namespace
}  // namespace vantor_test
