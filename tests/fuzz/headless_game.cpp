// The fuzz targets' headless game; see headless_game.h.
#include "headless_game.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/globals.h"
#include "platform/null.h"
#include "replay/state.h"

namespace fuzz {

namespace {

std::vector<uint8_t> g_opening;

void close_game() {
    if (hwnd) plat::destroy_window(hwnd);
    hwnd = nullptr;
}

}  // namespace

void fresh_game() {
    // The null backend keeps the name of every sound played; a long run would pile them up.
    plat::clear_sound_log();
    std::string why;
    if (hwnd) {
        if (!replay::restore_snapshot(g_opening.data(), g_opening.size(), &why)) {
            std::fprintf(stderr, "the game's own opening snapshot is refused: %s\n", why.c_str());
            std::abort();
        }
        return;
    }
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/vantor-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    fs::path caller = fs::current_path();
    fs::current_path(pattern);
    bool opened = openwindow();
    fs::current_path(caller);
    fs::remove(pattern);
    if (!opened) std::abort();
    std::atexit(close_game);
    g_opening = replay::take_snapshot();
}

void deliver(uint32_t message, uint32_t wParam, int32_t lParam) { feed(hwnd, message, wParam, lParam); }

}  // namespace fuzz
