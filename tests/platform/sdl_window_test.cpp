// The SDL window backend on SDL's dummy video driver: the tick timer, quitting, paints, and the
// pictures that reach the screen (the dummy driver saves each screen update as a BMP file).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/bmp.h"
#include "platform/window.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Seen {
    uint32_t message;
    uint32_t wParam;
    Clock::time_point when;
};

std::vector<Seen> g_seen;
// What the window procedure does on each tick, set by a test.
void (*g_on_tick)(plat::Window*) = nullptr;

int32_t test_proc(plat::Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam) {
    g_seen.push_back({message, wParam, Clock::now()});
    if (message == plat::WM_DESTROY) plat::post_quit_message(5);
    if (message == plat::WM_TIMER && g_on_tick) g_on_tick(hwnd);
    if (message == plat::WM_PAINT) return plat::default_window_proc(hwnd, message, wParam, lParam);
    return 0;
}

class SdlWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        g_seen.clear();
        g_on_tick = nullptr;
        ASSERT_TRUE(plat::register_class("Test Class", test_proc));
        hwnd = plat::create_window("Test Class", "Vantor test", 600, 460);
        ASSERT_NE(hwnd, nullptr);
        plat::show_window(hwnd);
    }

    void TearDown() override {
        if (!quit_seen) {
            plat::destroy_window(hwnd);
            plat::Message msg;
            EXPECT_FALSE(plat::get_message(&msg));
        }
    }

    // Gets and dispatches one message; false once the quit message came.
    bool pump(plat::Message* msg) {
        if (!plat::get_message(msg)) {
            quit_seen = true;
            return false;
        }
        plat::dispatch_message(msg);
        return true;
    }

    // Pumps until the next tick of the timer id has been handled and returns when it arrived.
    Clock::time_point next_tick(uint32_t id) {
        plat::Message msg;
        while (pump(&msg)) {
            if (msg.message == plat::WM_TIMER && msg.wParam == id) return g_seen.back().when;
        }
        ADD_FAILURE() << "the loop ended before a tick";
        return Clock::now();
    }

    plat::Window* hwnd = nullptr;
    bool quit_seen = false;
};

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

TEST_F(SdlWindowTest, TicksKeepTheirPeriod) {
    plat::set_timer(hwnd, 1, 100);
    auto start = Clock::now();
    auto first = next_tick(1);
    EXPECT_GE(ms_between(start, first), 90.0);
    auto last = first;
    for (int i = 0; i < 8; i++) {
        auto now = next_tick(1);
        EXPECT_GE(ms_between(last, now), 60.0) << "tick " << i << " came early";
        last = now;
    }
    // The deadlines are kept from one tick to the next, so small delays do not add up.
    EXPECT_NEAR(ms_between(first, last) / 8, 100.0, 10.0);
}

TEST_F(SdlWindowTest, StalledLoopGetsOneTickNotABurst) {
    plat::set_timer(hwnd, 1, 100);
    next_tick(1);
    // The game is busy for more than five periods.
    std::this_thread::sleep_for(std::chrono::milliseconds(550));
    auto resumed = Clock::now();
    auto late = next_tick(1);
    EXPECT_LT(ms_between(resumed, late), 50.0) << "the tick that fell due during the stall should come at once";
    auto after = next_tick(1);
    EXPECT_GE(ms_between(late, after), 70.0) << "missed ticks were made up in a burst";
}

TEST_F(SdlWindowTest, KilledTimerStopsAndOthersGoOn) {
    plat::set_timer(hwnd, 1, 50);
    plat::set_timer(hwnd, 2, 400);
    next_tick(1);
    plat::kill_timer(hwnd, 1);
    plat::Message msg;
    ASSERT_TRUE(pump(&msg));
    EXPECT_EQ(msg.message, plat::WM_TIMER);
    EXPECT_EQ(msg.wParam, 2u) << "timer 1 ticked after it was killed";
}

TEST_F(SdlWindowTest, SettingATimerAgainRestartsIt) {
    plat::set_timer(hwnd, 1, 5000);
    plat::set_timer(hwnd, 1, 50);
    auto start = Clock::now();
    next_tick(1);
    EXPECT_LT(ms_between(start, Clock::now()), 1000.0);
}

TEST_F(SdlWindowTest, QuitMessageEndsTheLoopWithItsCode) {
    plat::post_quit_message(3);
    plat::Message msg;
    EXPECT_FALSE(plat::get_message(&msg));
    EXPECT_EQ(msg.message, plat::WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(SdlWindowTest, DestroyingTheWindowGoesThroughItsProcedure) {
    plat::destroy_window(hwnd);
    ASSERT_FALSE(g_seen.empty());
    EXPECT_EQ(g_seen.back().message, plat::WM_DESTROY);
    plat::Message msg;
    EXPECT_FALSE(pump(&msg));
    EXPECT_EQ(msg.wParam, 5u);
}

// SDL turns SIGINT into a quit event: the game sees its window destroyed and ends as after a close.
TEST_F(SdlWindowTest, InterruptClosesTheWindow) {
    plat::set_timer(hwnd, 1, 100);
    std::raise(SIGINT);
    plat::Message msg;
    int ticks = 0;
    while (pump(&msg) && ticks < 20) ticks += msg.message == plat::WM_TIMER;
    ASSERT_TRUE(quit_seen) << "no quit after SIGINT";
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_EQ(g_seen.back().message, plat::WM_DESTROY);
}

TEST_F(SdlWindowTest, UpdateWindowPaintsAtOnce) {
    g_seen.clear();
    plat::update_window(hwnd);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].message, plat::WM_PAINT);
}

TEST(SdlWindowSetup, UnregisteredClassGivesNoWindow) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_TRUE(plat::register_class("Known Class", test_proc));
    EXPECT_EQ(plat::create_window("Other Class", "Vantor", 600, 460), nullptr);
}

// Each screen update of the dummy driver lands in the working directory as a numbered BMP file.
class SdlScreenTest : public SdlWindowTest {
protected:
    void SetUp() override {
        old_dir = fs::current_path();
        dir = fs::temp_directory_path() / ("vantor-screen-" + std::to_string(getpid()));
        fs::create_directories(dir);
        fs::current_path(dir);
        setenv("SDL_VIDEO_DUMMY_SAVE_FRAMES", "1", 1);
        SdlWindowTest::SetUp();
    }

    void TearDown() override {
        SdlWindowTest::TearDown();
        unsetenv("SDL_VIDEO_DUMMY_SAVE_FRAMES");
        fs::current_path(old_dir);
        fs::remove_all(dir);
    }

    // The picture of the last screen update, null when there was none.
    std::unique_ptr<plat::Bitmap> screen() {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(dir))
            if (newest.empty() || entry.path().filename() > newest.filename()) newest = entry.path();
        if (newest.empty()) return nullptr;
        std::string error;
        std::unique_ptr<plat::Bitmap> bitmap(plat::load_bmp_file(newest.c_str(), &error));
        EXPECT_TRUE(bitmap) << error;
        return bitmap;
    }

    size_t updates() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
    }

    fs::path old_dir, dir;
};

plat::Colour pixel(const plat::Bitmap& b, int x, int y) { return b.pixels[static_cast<size_t>(y) * b.width + x]; }

TEST_F(SdlScreenTest, DrawingBeforeTheLoopIsShownBeforeItWaits) {
    plat::Surface* surface = plat::get_window_surface(hwnd);
    plat::set_pixel(surface, 10, 20, 0x00336699);
    plat::set_pixel(surface, 599, 459, 0x00FFFFFF);
    plat::set_timer(hwnd, 1, 100);
    next_tick(1);
    auto shown = screen();
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->width, 600);
    ASSERT_EQ(shown->height, 460);
    EXPECT_EQ(pixel(*shown, 10, 20), 0x00336699u) << "colour channels swapped or pixel not shown";
    EXPECT_EQ(pixel(*shown, 599, 459), 0x00FFFFFFu);
    EXPECT_EQ(pixel(*shown, 11, 20), 0u);
}

void draw_on_tick(plat::Window* hwnd) {
    plat::set_pixel(plat::get_window_surface(hwnd), 300, 200, 0x000000FF);
}

TEST_F(SdlScreenTest, WhatAMessageDrawsIsShownWhenItIsHandled) {
    g_on_tick = draw_on_tick;
    plat::set_timer(hwnd, 1, 50);
    next_tick(1);
    auto shown = screen();
    ASSERT_TRUE(shown);
    EXPECT_EQ(pixel(*shown, 300, 200), 0x000000FFu);
}

TEST_F(SdlScreenTest, NothingDrawnMeansNoUpdate) {
    plat::set_timer(hwnd, 1, 30);
    next_tick(1);
    size_t before = updates();
    for (int i = 0; i < 3; i++) next_tick(1);
    EXPECT_EQ(updates(), before);
}

TEST_F(SdlScreenTest, PaintShowsTheWholePictureAgain) {
    // Drawn, then marked as shown although it never was: only a paint brings it to the screen.
    plat::Surface* surface = plat::get_window_surface(hwnd);
    plat::set_pixel(surface, 100, 100, 0x0000FF00);
    plat::clear_dirty(surface->bitmap);
    plat::update_window(hwnd);
    auto shown = screen();
    ASSERT_TRUE(shown);
    EXPECT_EQ(pixel(*shown, 100, 100), 0x0000FF00u);
}

// A filter that swaps red and blue in the rectangle shown.
void swap_red_blue(const plat::Colour* in, plat::Colour* out, int width, int x, int y, int w, int h) {
    for (int py = y; py < y + h; py++)
        for (int px = x; px < x + w; px++) {
            plat::Colour c = in[py * width + px];
            out[py * width + px] = (c & 0x00FF00u) | (c & 0xFFu) << 16 | (c >> 16 & 0xFFu);
        }
}

TEST_F(SdlScreenTest, APresentFilterChangesTheScreenAndNotThePicture) {
    plat::Surface* surface = plat::get_window_surface(hwnd);
    plat::set_pixel(surface, 10, 20, 0x00336699);
    plat::update_window(hwnd);
    plat::set_present_filter(hwnd, swap_red_blue);
    auto shown = screen();
    ASSERT_TRUE(shown);
    EXPECT_EQ(pixel(*shown, 10, 20), 0x00996633u) << "the whole window is shown again through the filter";
    EXPECT_EQ(plat::get_pixel(surface, 10, 20), 0x00336699u);
    plat::set_present_filter(hwnd, nullptr);
    EXPECT_EQ(pixel(*screen(), 10, 20), 0x00336699u);
}

}  // namespace
