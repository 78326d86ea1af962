// A replay in the window: the window's ticks drive the recorded game, and nothing the player does
// reaches it. A click on the map switches four-times speed on and off; Abort closes the window.
#include <cstdio>
#include <string>

#include "app/app.h"
#include "model/globals.h"
#include "model/layout.h"
#include "replay/file.h"
#include "replay/playback.h"

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
        switch (msg.message) {
            case plat::WM_TIMER:
                if (playback.step()) {
                    pace();
                } else {
                    plat::kill_timer(window, TIMER_ID);
                    plat::set_window_caption(window, "Vantor - end of the replay");
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
