// A stand-in game for the SDL window backend under a real X server: it logs every message it gets
// and draws known colours, so that a script can click it, read its pixels and close it.
#include <cstdio>

#include "platform/window.h"

namespace {

// Colours 0x00BBGGRR with three different bytes, so that swapped channels show.
constexpr plat::Colour kStartColour = 0x00336699;  // drawn before the loop starts
constexpr plat::Colour kPaintColour = 0x0000C000;  // drawn by every paint, bottom right
constexpr plat::Colour kClickColour = 0x00C08040;  // drawn around each left click
constexpr int kQuitCode = 7;

void fill(plat::Surface* surface, int x, int y, int w, int h, plat::Colour colour) {
    for (int row = y; row < y + h; row++)
        for (int col = x; col < x + w; col++) plat::set_pixel(surface, col, row, colour);
}

int32_t probe_proc(plat::Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam) {
    auto [x, y] = plat::lparam_point(lParam);
    switch (message) {
        case plat::WM_DESTROY:
            std::printf("DESTROY\n");
            plat::kill_timer(hwnd, 1);
            plat::post_quit_message(kQuitCode);
            break;
        case plat::WM_PAINT: {
            plat::PaintRecord paint;
            plat::Surface* surface = plat::begin_paint(hwnd, &paint);
            fill(surface, 590, 450, 10, 10, kPaintColour);
            plat::end_paint(hwnd, &paint);
            std::printf("PAINT\n");
            break;
        }
        case plat::WM_TIMER:
            std::printf("TIMER %u\n", wParam);
            break;
        case plat::WM_LBUTTONDOWN:
            fill(plat::get_window_surface(hwnd), x - 5, y - 5, 11, 11, kClickColour);
            std::printf("DOWN %d %d\n", x, y);
            break;
        case plat::WM_LBUTTONUP:
            std::printf("UP %d %d\n", x, y);
            break;
        default:
            std::printf("OTHER %u\n", message);
            return plat::default_window_proc(hwnd, message, wParam, lParam);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main() {
    if (!plat::register_class("Probe Class", probe_proc)) return 2;
    plat::Window* hwnd = plat::create_window("Probe Class", "Vantor probe", 600, 460);
    if (!hwnd) return 1;
    plat::show_window(hwnd);
    fill(plat::get_window_surface(hwnd), 0, 0, 10, 10, kStartColour);
    plat::set_timer(hwnd, 1, 100);
    plat::Message msg;
    while (plat::get_message(&msg)) plat::dispatch_message(&msg);
    std::printf("QUIT %u\n", msg.wParam);
    return static_cast<int>(msg.wParam);
}
