// The headless game used by the tests of the screens and of play.
#include "game_fixture.h"

#include <unistd.h>

#include <cstring>

#include "platform/bmp.h"
#include "platform/null.h"

namespace vantor_test {

bool write_quad_map(const std::filesystem::path& dir, const std::string& name) {
    plat::Bitmap* tac = plat::create_bitmap(MAP_WIDTH, MAP_HEIGHT);
    plat::Bitmap* pic = plat::create_bitmap(MAP_WIDTH, MAP_HEIGHT);
    for (int y = 0; y < MAP_HEIGHT; y++) {
        for (int x = 0; x < MAP_WIDTH; x++) {
            uint32_t c = SEA;
            if (y < 170) c = x < 300 ? RED : BLUE;
            if (y >= 230) c = x < 300 ? YELLOW : GREEN;
            tac->pixels[y * MAP_WIDTH + x] = c;
            pic->pixels[y * MAP_WIDTH + x] = c == SEA ? 0x603010u : 0x206020u;
        }
    }
    bool ok = plat::save_bmp_file(pic, (dir / (name + ".map")).c_str()) &&
              plat::save_bmp_file(tac, (dir / (name + ".tac")).c_str());
    plat::delete_bitmap(tac);
    plat::delete_bitmap(pic);
    return ok;
}

weapon& put_unit(int slot, uint8_t flag, uint8_t side, int x, int y, uint8_t ammo) {
    weapon& w = item[slot];
    w.flag = flag;
    w.side = side;
    w.x = static_cast<uint16_t>(x);
    w.y = static_cast<uint16_t>(y);
    w.ammo = ammo;
    w.fact1 = w.fact2 = NO_SLOT;
    w.supplied = false;
    w.greynow = false;
    w.old_power = 0;
    w.old_bearing = 0;
    std::memcpy(w.name, "TEST UNIT       ", sizeof w.name);
    return w;
}

void GameTest::SetUp() {
    old_dir_ = std::filesystem::current_path();
    char pattern[] = "/tmp/vantor-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_TRUE(write_quad_map(dir_, "Quad"));
    std::filesystem::current_path(dir_);
    reset_globals();
    plat::clear_sound_log();
    ASSERT_TRUE(openwindow());
    seed = 1;
}

void GameTest::TearDown() {
    if (hwnd) plat::destroy_window(hwnd);
    hwnd = nullptr;
    std::filesystem::current_path(old_dir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void GameTest::tick(int n) {
    for (int i = 0; i < n; i++) feed(hwnd, plat::WM_TIMER, 1, 0);
}

void GameTest::click(int x, int y) {
    feed(hwnd, plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y));
    feed(hwnd, plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
}

void GameTest::paint() { feed(hwnd, plat::WM_PAINT, 0, 0); }

void GameTest::run_until(uint8_t mode, int max) {
    for (int i = 0; i < max && timer_mode != mode; i++) tick();
    ASSERT_EQ(timer_mode, mode);
}

void GameTest::to_title() {
    tick(20);
    click(300, 200);
    ASSERT_EQ(timer_mode, MODE_TITLE);
}

void GameTest::start_game() {
    to_title();
    ASSERT_STREQ(filelist[cur_map].letter, "Quad");
    click(380, 340);
    ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
    run_until(MODE_PLAYING, 200);
}

plat::Colour GameTest::window_pixel(int x, int y) const { return plat::get_pixel(WinDC, x, y); }

}  // namespace vantor_test
