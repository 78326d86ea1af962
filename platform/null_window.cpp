// Headless window: an off-screen client area, no timer and no message queue. The driver and the
// tests hand messages to the window procedure themselves.
#include <cstring>
#include <mutex>
#include <string>

#include "platform/context.h"
#include "platform/null.h"
#include "platform/window.h"

namespace plat {

struct Window {
    WindowProc proc = nullptr;
    Bitmap* client = nullptr;
    Surface surface;
    std::string caption;
    uint32_t timer_period = 0;
};

namespace {

// The one class, registered by every game that opens a window, on whichever thread it runs.
std::mutex g_class_lock;
std::string g_class;
WindowProc g_proc = nullptr;

}  // namespace

void set_window_pictures(bool pictures) { game_context().window_pictures = pictures; }

bool register_class(const char* class_name, WindowProc proc) {
    std::lock_guard<std::mutex> hold(g_class_lock);
    g_class = class_name;
    g_proc = proc;
    return proc != nullptr;
}

Window* create_window(const char* class_name, const char* caption, int width, int height) {
    WindowProc proc = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_class_lock);
        if (g_class != class_name || !g_proc) return nullptr;
        proc = g_proc;
    }
    auto* window = new Window;
    window->caption = caption ? caption : "";
    window->proc = proc;
    window->client = game_context().window_pictures ? create_bitmap(width, height) : nullptr;
    window->surface.bitmap = window->client;
    return window;
}

void show_window(Window* /*hwnd*/) {}

// Nothing is shown headless, so there are no colours to change.
void set_present_filter(Window*, PresentFilter) {}

void set_window_caption(Window* hwnd, const char* caption) {
    if (hwnd && caption) hwnd->caption = caption;
}

std::string window_caption(const Window* hwnd) { return hwnd ? hwnd->caption : std::string(); }

namespace {

thread_local std::string t_clipboard;

}  // namespace

void set_clipboard(const char* text) { t_clipboard = text ? text : ""; }

std::string clipboard() { return t_clipboard; }

void update_window(Window* hwnd) {
    if (hwnd) hwnd->proc(hwnd, WM_PAINT, 0, 0);
}

void destroy_window(Window* hwnd) {
    if (!hwnd) return;
    hwnd->proc(hwnd, WM_DESTROY, 0, 0);
    delete_bitmap(hwnd->client);
    delete hwnd;
}

Surface* get_window_surface(Window* hwnd) { return hwnd ? &hwnd->surface : nullptr; }

void release_window_surface(Window* /*hwnd*/, Surface* /*surface*/) {}

Surface* begin_paint(Window* hwnd, PaintRecord* paint) {
    Surface* surface = get_window_surface(hwnd);
    if (paint) paint->surface = surface;
    return surface;
}

void end_paint(Window* /*hwnd*/, PaintRecord* paint) {
    if (paint) paint->surface = nullptr;
}

// Nothing ticks by itself: the period is only kept, for the tests.
void set_timer(Window* hwnd, uint32_t /*id*/, uint32_t period_ms) {
    if (hwnd) hwnd->timer_period = period_ms;
}

void kill_timer(Window* hwnd, uint32_t /*id*/) {
    if (hwnd) hwnd->timer_period = 0;
}

uint32_t timer_period(const Window* hwnd) { return hwnd ? hwnd->timer_period : 0; }

// Nothing ever arrives by itself when headless: a loop that asks ends at once.
bool get_message(Message* msg) {
    if (msg) *msg = Message{};
    return false;
}

int32_t dispatch_message(const Message* msg) {
    if (!msg || !msg->hwnd) return 0;
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void post_quit_message(int /*code*/) {}

void wake(Window* /*hwnd*/) {}

int32_t default_window_proc(Window* /*hwnd*/, uint32_t /*message*/, uint32_t /*wParam*/, int32_t /*lParam*/) {
    return 0;
}

}  // namespace plat
