// A replay in the window: the window's ticks drive the recorded game, and nothing the player does
// reaches it. A click on the map switches four-times speed on and off; Abort closes the window.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/app.h"
#include "app/palette.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "replay/file.h"
#include "replay/playback.h"

namespace {

// When the game was played: from a kept replay's name ("2026-12-09-153012-World.vrp"), which says
// when it ended, else from the file's time.
std::string played_on(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const char* shape = "dddd-dd-dd-dddddd-";
    bool named = name.size() > 18;
    for (size_t i = 0; named && shape[i]; i++)
        named = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(name[i])) != 0 : name[i] == shape[i];
    if (named) return name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(13, 2);
    struct stat st {};
    std::tm local{};
    char text[32];
    if (stat(path.c_str(), &st) != 0 || !localtime_r(&st.st_mtime, &local) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return "an unknown date";
    return text;
}

}  // namespace

int playreplay(const char* path) {
    replay::Recording game;
    std::string why;
    if (!replay::read_replay(path, &game, &why)) {
        std::fprintf(stderr, "vantor: cannot play the replay %s\n", why.c_str());
        return 1;
    }
    replay::set_listener(nullptr);
    if (!openwindow()) return 1;
    plat::Window* window = hwnd;
    replay::Playback playback(game, [window](uint32_t message, uint32_t wParam, int32_t lParam) {
        feed(window, message, wParam, lParam);
    });
    if (!playback.start(&why)) {
        std::fprintf(stderr, "vantor: cannot play the replay %s: %s\n", path, why.c_str());
        plat::destroy_window(window);
        return 1;
    }
    std::snprintf(replay_label, sizeof replay_label, "%s, %s", game.map.c_str(), played_on(path).c_str());
    if (timer_mode == MODE_PLACING) showcaption("placing units");
    else showturn();
    plat::update_window(window);

    bool faster = false;
    uint32_t period = 0;
    auto pace = [&] {
        // The recorded game sets its own pace (fast play); four-times speed goes on top of it.
        uint32_t wanted = faster ? (tick_ms + 3) / 4 : tick_ms;
        if (wanted != period) plat::set_timer(window, TIMER_ID, period = wanted);
    };
    pace();
    plat::Message msg;
    while (plat::get_message(&msg)) {
        if (frontkey(msg)) continue;
        switch (msg.message) {
            case plat::WM_TIMER:
                if (playback.step()) {
                    pace();
                } else {
                    plat::kill_timer(window, TIMER_ID);
                    showcaption("end of the replay");
                }
                break;
            case plat::WM_LBUTTONDOWN: {
                auto [x, y] = plat::lparam_point(msg.lParam);
                if (y < MAP_HEIGHT) {
                    faster = !faster;
                    pace();
                } else if (in_abort_button(x, y)) {
                    plat::destroy_window(window);
                }
                break;
            }
            case plat::WM_PAINT:
            case plat::WM_DESTROY:
                plat::dispatch_message(&msg);
                break;
            default:
                break;  // keys, releases and maps added belong to the recorded game only
        }
    }
    if (playback.first_mismatch() >= 0)
        std::fprintf(stderr, "vantor: the replay %s went its own way at tick %lld\n", path,
                     static_cast<long long>(playback.first_mismatch()));
    return 0;
}
