// The window shell: start-up, the message loop, the window procedure and its one way in.
#include "app/app.h"

#include "app/palette.h"
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/input.h"
#include "platform/sound.h"
#include "replay/stream.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// Tells the page (web/index.html) how one of the front end's switches stands, for its button:
// Module.soundState or Module.paletteState. The body is JavaScript.
// clang-format off
EM_JS(void, tell_page_switch, (const char* name, int on), {
    var told = Module[UTF8ToString(name) + "State"];
    if (told) told(!!on);
});
// clang-format on
#else
extern "C" void tell_page_switch(const char* /*name*/, int /*on*/) {}
#endif

namespace {

constexpr const char* kClassName = "VTR Window Class";

}  // namespace

bool frontkey(const plat::Message& msg) {
    if (palette_key(msg)) return true;
    if (msg.message == plat::WM_KEYDOWN && msg.wParam == plat::VK_COPY) {
        if (invite_link[0]) plat::set_clipboard(invite_link);
        return true;
    }
    if (msg.message != plat::WM_KEYDOWN || msg.wParam != 'M') return false;
    plat::sound_switch(!plat::sound_is_on());
    savesound();
    refreshcaption();
    tell_page_switch("sound", plat::sound_is_on());
    return true;
}

bool openwindow() {
    if (!plat::register_class(kClassName, feed)) return false;
    hwnd = plat::create_window(kClassName, "Vantor", CLIENT_WIDTH, CLIENT_HEIGHT);
    if (!hwnd) return false;
    plat::show_window(hwnd);
    // The first paint arrives here, while timer_mode is still 0, and draws nothing.
    plat::update_window(hwnd);
    initgame();
    if (colourblind()) set_palette(true, false);
    startintro();
    // The settings have been read: the caption and the page show the sound switch as it stands.
    refreshcaption();
    tell_page_switch("sound", plat::sound_is_on());
    return true;
}

int WinMain() {
    if (!openwindow()) return 1;
    plat::Message msg;
    while (plat::get_message(&msg))
        if (!frontkey(msg)) plat::dispatch_message(&msg);
    return static_cast<int>(msg.wParam);
}

int32_t feed(plat::Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    replay::Listener* listener = replay::listener();
    if (!listener) return WindowFunction(window, message, wParam, lParam);
    plat::Message msg{window, message, wParam, lParam};
    listener->before(msg);
    int32_t result = WindowFunction(window, message, wParam, lParam);
    listener->after(msg);
    return result;
}

int32_t WindowFunction(plat::Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    switch (message) {
        case plat::WM_DESTROY:
            exitgame();
            plat::post_quit_message(0);
            return 0;
        case plat::WM_PAINT: {
            // The paint draws through WinDC, lent the paint's surface for the while.
            plat::PaintRecord paint;
            plat::Surface* window_dc = WinDC;
            WinDC = plat::begin_paint(window, &paint);
            repaint();
            WinDC = window_dc;
            plat::end_paint(window, &paint);
            return 0;
        }
        case plat::WM_TIMER:
            timerops();
            return 0;
        case plat::WM_LBUTTONDOWN: {
            plat::MousePoint at = plat::lparam_point(lParam);
            mouseclick(static_cast<uint16_t>(at.x), static_cast<uint16_t>(at.y));
            return 0;
        }
        case plat::WM_DROPFILES:
            mapsadded();
            return 0;
        case plat::WM_KEYDOWN:
            keypress(wParam);
            return 0;
        case plat::WM_LBUTTONUP:
            if (timer_mode == MODE_PLAYING) blankicons();
            if (timer_mode == MODE_TITLE) blankicons2();
            return 0;
        case WM_SIDE:
            changehands(wParam, lParam);
            return 0;
        default:
            return plat::default_window_proc(window, message, wParam, lParam);
    }
}
