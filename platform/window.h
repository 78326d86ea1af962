// The window, its messages and the tick timer: the stand-in for the USER calls the game makes.
#pragma once

#include <cstdint>

#include "platform/gdi.h"

namespace plat {

// The messages the window procedure handles, numbered as the platform it stands in for numbers them.
enum : uint32_t {
    WM_DESTROY = 0x0002,
    WM_PAINT = 0x000F,
    WM_QUIT = 0x0012,
    WM_KEYDOWN = 0x0100,
    WM_TIMER = 0x0113,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_DROPFILES = 0x0233,  // map files were added to the working directory (the browser's file button)
    // Another thread has news for the message loop (wake): the online game's connection.
    WM_WAKE = 0x8002,
};

struct Window;

using WindowProc = int32_t (*)(Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam);

struct Message {
    Window* hwnd = nullptr;
    uint32_t message = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
};

// What a paint lends the window procedure.
struct PaintRecord {
    Surface* surface = nullptr;
};

// wParam of a key message: the key's code, capital letters and the space as themselves. Ctrl+C comes
// as VK_COPY (its control character), never as C.
constexpr uint32_t VK_SPACE = 0x20;
constexpr uint32_t VK_COPY = 0x03;

// lParam of a mouse message: x in the low 16 bits, y in the high 16 bits.
inline int32_t make_lparam(int x, int y) {
    return static_cast<int32_t>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFFu));
}

// The point a mouse message's lParam holds, each coordinate 0 to 65535.
struct MousePoint {
    int x = 0;
    int y = 0;
};
inline MousePoint lparam_point(int32_t lParam) {
    auto bits = static_cast<uint32_t>(lParam);
    return {static_cast<int>(bits & 0xFFFFu), static_cast<int>(bits >> 16)};
}

// False when the class cannot be registered.
bool register_class(const char* class_name, WindowProc proc);
// A window with a client area of width x height; null with one line on stderr when there is no display.
Window* create_window(const char* class_name, const char* caption, int width, int height);
void show_window(Window* hwnd);
// The text of the window's title bar.
void set_window_caption(Window* hwnd, const char* caption);
// Puts the text on the system's clipboard (headless: one of the thread's own, for the tests).
void set_clipboard(const char* text);
// A change of colours on the way to the screen, never in the window's picture: given the picture
// (width pixels a row) and a rectangle of it, it writes that rectangle as shown into out, a picture
// of the same size.
using PresentFilter = void (*)(const Colour* picture, Colour* out, int width, int x, int y, int w, int h);
// Null for none; the whole window is shown again at once.
void set_present_filter(Window* hwnd, PresentFilter filter);
// Sends a paint request through the window procedure at once.
void update_window(Window* hwnd);
void destroy_window(Window* hwnd);

// The window's own drawing surface, lasting until it is released.
Surface* get_window_surface(Window* hwnd);
void release_window_surface(Window* hwnd, Surface* surface);
Surface* begin_paint(Window* hwnd, PaintRecord* paint);
void end_paint(Window* hwnd, PaintRecord* paint);

// Timer ticks arrive as WM_TIMER messages, at most one pending at a time.
void set_timer(Window* hwnd, uint32_t id, uint32_t period_ms);
void kill_timer(Window* hwnd, uint32_t id);

// Waits for the next message; false once the quit message arrives.
bool get_message(Message* msg);
int32_t dispatch_message(const Message* msg);
void post_quit_message(int code);
// Puts a WM_WAKE message into the window's queue; safe from any thread, and doing nothing headless.
void wake(Window* hwnd);
int32_t default_window_proc(Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam);

}  // namespace plat
