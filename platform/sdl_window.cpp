// The SDL window backend: one window shown through its window surface, SDL events turned into the
// game's messages, and the tick timer, all on the main thread. On a desktop large enough the
// window is shown at two or three times the game's size, each pixel a square block.
#include <SDL.h>
#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "platform/window.h"

namespace plat {

namespace {

struct SdlWindowDeleter {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
};
struct SdlSurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
struct BitmapDeleter {
    void operator()(Bitmap* b) const { delete_bitmap(b); }
};

struct Timer {
    uint32_t id = 0;
    uint32_t period_ms = 0;
    uint64_t deadline_ms = 0;
};

}  // namespace

struct Window {
    WindowProc proc = nullptr;
    // The game's picture, at the game's size whatever the scale.
    std::unique_ptr<Bitmap, BitmapDeleter> client;
    Surface surface;
    std::unique_ptr<SDL_Window, SdlWindowDeleter> sdl;
    // The client bitmap seen as an SDL surface over the same pixels, so that SDL converts it to
    // whatever format the screen has.
    std::unique_ptr<SDL_Surface, SdlSurfaceDeleter> view;
    // Screen pixels per game pixel, in each direction.
    int scale = 1;
    // Above scale 1 on a screen whose format is not 32 bits with 8-bit colours: the client bitmap
    // converted to it, from which pixels are enlarged.
    std::unique_ptr<SDL_Surface, SdlSurfaceDeleter> converted;
    std::vector<Timer> timers;
    // With a present filter: the picture as shown, and an SDL surface over it in place of view.
    PresentFilter filter = nullptr;
    std::vector<Colour> shown;
    std::unique_ptr<SDL_Surface, SdlSurfaceDeleter> shown_view;
};

namespace {

std::string g_class;
WindowProc g_proc = nullptr;
// The game has one window; every SDL event is meant for it. It is deleted by destroy_window and
// never by a static destructor: a program that exits because its display went away must not
// talk to that display again (SDL would wait for its answer forever).
Window* g_window = nullptr;
// SDL's event type for wake, registered with the window; read by other threads.
std::atomic<uint32_t> g_wake_event{0};
bool g_quit = false;
int g_quit_code = 0;

// SDL falls back to an off-screen driver when there is no desktop. The game wants a window that
// someone can see, so unless SDL_VIDEODRIVER names a driver it may use only X11 or Wayland.
bool choose_video_driver() {
#ifdef __EMSCRIPTEN__
    // In the browser the page's canvas is the display.
    return true;
#endif
    const char* chosen = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (chosen && *chosen) return true;
    std::string drivers;
    if (const char* x = std::getenv("DISPLAY"); x && *x) drivers += "x11,";
    if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w) drivers += "wayland,";
    if (drivers.empty()) {
        std::fprintf(stderr, "vantor: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        return false;
    }
    drivers.pop_back();
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    return true;
}

bool start_video() {
    if (!choose_video_driver()) return false;
    // The window surface must stay a plain framebuffer: no renderer, so no OpenGL gets loaded.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // A windowed game should not switch the desktop's compositor off.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // The click that brings the window to the front is a click in the game too.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vantor: no display available (%s)\n", SDL_GetError());
        return false;
    }
    // The game reads key presses, not text: no text input, so no input method filters every event,
    // and the events that the game would only throw away are not queued for it.
    SDL_StopTextInput();
    for (Uint32 type : {SDL_MOUSEMOTION, SDL_MOUSEWHEEL, SDL_KEYUP, SDL_TEXTEDITING, SDL_TEXTINPUT})
        SDL_EventState(type, SDL_IGNORE);
    return true;
}

void stop_video() {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (SDL_WasInit(0) == 0) SDL_Quit();
}

// Room left around the window for the desktop's title bar and frame.
constexpr int kFrameWidth = 24;
constexpr int kFrameHeight = 64;
constexpr int kMaxScale = 3;

// The largest scale, 3 or 2, at which the window and its frame fit the usable area of the desktop
// (without its panels); 1 when neither fits.
int choose_scale(int width, int height) {
#ifdef __EMSCRIPTEN__
    // In the browser the page scales the canvas itself.
    (void)width, (void)height;
    return 1;
#endif
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return 1;
    for (int scale = kMaxScale; scale > 1; scale--) {
        if (width * scale + kFrameWidth <= usable.w && height * scale + kFrameHeight <= usable.h) return scale;
    }
    return 1;
}

std::unique_ptr<Window> make_window(const char* caption, int width, int height) {
    auto window = std::make_unique<Window>();
    window->proc = g_proc;
    window->client.reset(create_bitmap(width, height));
    if (!window->client) return nullptr;
    window->surface.bitmap = window->client.get();
    window->scale = choose_scale(width, height);
    // Shown later by show_window, as a window is created hidden until it is shown.
    window->sdl.reset(SDL_CreateWindow(caption, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                       width * window->scale, height * window->scale, SDL_WINDOW_HIDDEN));
    if (!window->sdl) return nullptr;
    Bitmap* bitmap = window->client.get();
    window->view.reset(SDL_CreateRGBSurfaceWithFormatFrom(bitmap->pixels.data(), width, height, 32,
                                                          width * 4, SDL_PIXELFORMAT_XBGR8888));
    if (!window->view) return nullptr;
    return window;
}

// Whether game pixels can go to the screen without SDL's conversion: 32 bits a pixel with 8 bits
// for each colour, as nearly every desktop has.
bool direct_format(const SDL_PixelFormat* format) {
    return format->BytesPerPixel == 4 && format->Rloss == 0 && format->Gloss == 0 && format->Bloss == 0;
}

// One row of n game pixels, 0x00BBGGRR, each written scale times in such a format.
void widen_row_direct(const Colour* in, Uint32* out, int n, int scale, const SDL_PixelFormat* format) {
    for (int i = 0; i < n; i++) {
        Colour c = in[i];
        Uint32 pixel = ((c & 0xFFu) << format->Rshift) | (((c >> 8) & 0xFFu) << format->Gshift) |
                       (((c >> 16) & 0xFFu) << format->Bshift) | format->Amask;
        for (int k = 0; k < scale; k++) *out++ = pixel;
    }
}

// One row of n pixels already in the screen's format, of bpp bytes each, each written scale times.
void widen_row(const Uint8* in, Uint8* out, int n, int scale, int bpp) {
    for (int i = 0; i < n; i++)
        for (int k = 0; k < scale; k++, out += bpp) std::memcpy(out, in + i * bpp, bpp);
}

// Draws a rectangle of the client bitmap onto the screen at the window's scale, every pixel a
// square block, never blended with its neighbours. Screens of other formats get the rectangle
// converted by SDL first.
bool enlarge(Window* window, SDL_Surface* screen, const SDL_Rect& rect) {
    const int scale = window->scale;
    const Bitmap* bitmap = window->client.get();
    const Colour* pixels = window->filter ? window->shown.data() : bitmap->pixels.data();
    SDL_Surface* view = window->filter ? window->shown_view.get() : window->view.get();
    if (screen->w < bitmap->width * scale || screen->h < bitmap->height * scale) return false;
    const SDL_PixelFormat* format = screen->format;
    const bool direct = direct_format(format);
    if (!direct) {
        if (!window->converted || window->converted->format->format != format->format) {
            window->converted.reset(SDL_CreateRGBSurfaceWithFormat(0, bitmap->width, bitmap->height,
                                                                   format->BitsPerPixel, format->format));
            if (!window->converted) return false;
        }
        // Colour indices are copied as they are, so they must index the screen's own palette.
        if (format->palette) SDL_SetSurfacePalette(window->converted.get(), format->palette);
        SDL_Rect from = rect;
        SDL_Rect to = rect;
        if (SDL_BlitSurface(view, &from, window->converted.get(), &to) != 0) return false;
    }
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) return false;
    const int bpp = format->BytesPerPixel;
    const size_t row_bytes = static_cast<size_t>(rect.w) * scale * bpp;
    for (int y = rect.y; y < rect.y + rect.h; y++) {
        Uint8* out = static_cast<Uint8*>(screen->pixels) + y * scale * screen->pitch + rect.x * scale * bpp;
        if (direct) {
            const Colour* in = &pixels[static_cast<size_t>(y) * bitmap->width + rect.x];
            widen_row_direct(in, reinterpret_cast<Uint32*>(out), rect.w, scale, format);
        } else {
            const SDL_Surface* converted = window->converted.get();
            widen_row(static_cast<const Uint8*>(converted->pixels) + y * converted->pitch + rect.x * bpp, out,
                      rect.w, scale, bpp);
        }
        for (int k = 1; k < scale; k++) std::memcpy(out + k * screen->pitch, out, row_bytes);
    }
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
    return true;
}

// Puts on screen the part of the client bitmap drawn since the last time, and only that part.
void present(Window* window) {
    Bitmap* bitmap = window->client.get();
    int x0 = std::max(bitmap->dirty_x0, 0);
    int y0 = std::max(bitmap->dirty_y0, 0);
    int x1 = std::min(bitmap->dirty_x1, bitmap->width);
    int y1 = std::min(bitmap->dirty_y1, bitmap->height);
    clear_dirty(bitmap);
    if (x0 >= x1 || y0 >= y1) return;
    SDL_Surface* screen = SDL_GetWindowSurface(window->sdl.get());
    if (!screen) return;
    SDL_Rect rect{x0, y0, x1 - x0, y1 - y0};
    if (window->filter)
        window->filter(bitmap->pixels.data(), window->shown.data(), bitmap->width, rect.x, rect.y, rect.w, rect.h);
    if (window->scale == 1) {
        SDL_Rect target = rect;
        SDL_BlitSurface(window->filter ? window->shown_view.get() : window->view.get(), &rect, screen, &target);
    } else if (!enlarge(window, screen, rect)) {
        return;
    }
    const int s = window->scale;
    SDL_Rect shown{rect.x * s, rect.y * s, rect.w * s, rect.h * s};
    SDL_UpdateWindowSurfaceRects(window->sdl.get(), &shown, 1);
    sound_frame_shown();
}

// Window pixels to game pixels, rounding down also left of and above the window, where a button
// released after a drag may lie.
int to_game(int window_coordinate, int scale) {
    int q = window_coordinate / scale;
    return (window_coordinate % scale < 0) ? q - 1 : q;
}

// Closing the window destroys it, as the default handling of a close request would.
void close_window() {
    if (g_window) destroy_window(g_window);
}

bool is_our_window(uint32_t window_id) {
    return g_window && SDL_GetWindowID(g_window->sdl.get()) == window_id;
}

// The message an SDL event stands for; false for the events the game does not see.
bool translate_event(const SDL_Event& event, Message* out) {
    if (g_wake_event != 0 && event.type == g_wake_event) {
        *out = Message{g_window, WM_WAKE, 0, 0};
        return g_window != nullptr;
    }
    switch (event.type) {
        case SDL_QUIT:
            close_window();
            return false;
        case SDL_WINDOWEVENT:
            if (!is_our_window(event.window.windowID)) return false;
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                close_window();
                return false;
            }
            if (event.window.event != SDL_WINDOWEVENT_EXPOSED) return false;
            *out = Message{g_window, WM_PAINT, 0, 0};
            return true;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            if (event.button.button != SDL_BUTTON_LEFT || !is_our_window(event.button.windowID)) return false;
            uint32_t message = event.type == SDL_MOUSEBUTTONDOWN ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            int x = to_game(event.button.x, g_window->scale);
            int y = to_game(event.button.y, g_window->scale);
            *out = Message{g_window, message, 0, make_lparam(x, y)};
            return true;
        }
        case SDL_KEYDOWN: {
            // Letters as their capitals and the space bar; a held key's repeats are not new presses.
            SDL_Keycode key = event.key.keysym.sym;
            if (event.key.repeat || !is_our_window(event.key.windowID)) return false;
            uint32_t code = 0;
            if (key >= SDLK_a && key <= SDLK_z) code = static_cast<uint32_t>('A' + (key - SDLK_a));
            if (key == SDLK_SPACE) code = VK_SPACE;
            if (key == SDLK_c && (event.key.keysym.mod & KMOD_CTRL)) code = VK_COPY;
            if (code == 0) return false;
            *out = Message{g_window, WM_KEYDOWN, code, 0};
            return true;
        }
        default:
            return false;
    }
}

Timer* next_timer() {
    if (!g_window || g_window->timers.empty()) return nullptr;
    auto& timers = g_window->timers;
    return &*std::min_element(timers.begin(), timers.end(),
                              [](const Timer& a, const Timer& b) { return a.deadline_ms < b.deadline_ms; });
}

// A timer that has fallen due fires once. Its next deadline never lies in the past, so ticks
// missed while the game was busy are not made up in a burst.
bool take_due_tick(Message* out) {
    Timer* timer = next_timer();
    uint64_t now = SDL_GetTicks64();
    if (!timer || timer->deadline_ms > now) return false;
    timer->deadline_ms += timer->period_ms;
    if (timer->deadline_ms <= now) timer->deadline_ms = now + timer->period_ms;
    *out = Message{g_window, WM_TIMER, timer->id, 0};
    return true;
}

// Milliseconds until the next tick falls due: 0 when one is due, -1 without a timer.
int ms_until_tick() {
    const Timer* timer = next_timer();
    if (!timer) return -1;
    uint64_t now = SDL_GetTicks64();
    if (timer->deadline_ms <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(timer->deadline_ms - now, INT_MAX));
}

// The quit message is taken off the queue once it is read.
bool quit_message(Message* out) {
    *out = Message{nullptr, WM_QUIT, static_cast<uint32_t>(g_quit_code), 0};
    g_quit = false;
    return false;
}

}  // namespace

bool register_class(const char* class_name, WindowProc proc) {
    if (!class_name || !proc) return false;
    g_class = class_name;
    g_proc = proc;
    return true;
}

Window* create_window(const char* class_name, const char* caption, int width, int height) {
    if (!class_name || g_class != class_name || !g_proc || g_window) return nullptr;
    if (!caption) caption = "";
    // The name the desktop and the sound server show for the program.
    SDL_SetHint(SDL_HINT_APP_NAME, caption);
    if (!start_video()) return nullptr;
    g_window = make_window(caption, width, height).release();
    if (g_window && g_wake_event == 0) {
        uint32_t type = SDL_RegisterEvents(1);
        if (type != static_cast<uint32_t>(-1)) g_wake_event = type;
    }
    if (!g_window) {
        std::fprintf(stderr, "vantor: cannot open the window (%s)\n", SDL_GetError());
        stop_video();
        return nullptr;
    }
    return g_window;
}

void show_window(Window* hwnd) {
    if (hwnd) SDL_ShowWindow(hwnd->sdl.get());
}

void set_window_caption(Window* hwnd, const char* caption) {
    if (hwnd && caption) SDL_SetWindowTitle(hwnd->sdl.get(), caption);
}

void set_clipboard(const char* text) {
    if (text && SDL_SetClipboardText(text) != 0) std::fprintf(stderr, "vantor: nothing copied: %s\n", SDL_GetError());
}

void set_present_filter(Window* hwnd, PresentFilter filter) {
    if (!hwnd) return;
    Bitmap* bitmap = hwnd->client.get();
    if (filter && !hwnd->shown_view) {
        hwnd->shown.assign(bitmap->pixels.size(), 0);
        hwnd->shown_view.reset(SDL_CreateRGBSurfaceWithFormatFrom(hwnd->shown.data(), bitmap->width, bitmap->height,
                                                                  32, bitmap->width * 4, SDL_PIXELFORMAT_XBGR8888));
        if (!hwnd->shown_view) filter = nullptr;  // no memory for it: the colours stay as they are
    }
    hwnd->filter = filter;
    mark_dirty(bitmap, 0, 0, bitmap->width, bitmap->height);
    if (hwnd == g_window) present(hwnd);
}

void update_window(Window* hwnd) {
    if (!hwnd) return;
    hwnd->proc(hwnd, WM_PAINT, 0, 0);
    if (hwnd == g_window) present(hwnd);
}

void destroy_window(Window* hwnd) {
    if (!hwnd || hwnd != g_window) return;
    hwnd->proc(hwnd, WM_DESTROY, 0, 0);
    g_window = nullptr;
    delete hwnd;
    // SDL's video stays up until the process ends. On X11 this SDL may still have a wake-up
    // message on its way to the window just destroyed; shutting video down would read back the
    // server's complaint about it, and Xlib's answer to that is exit(1).
}

Surface* get_window_surface(Window* hwnd) { return hwnd ? &hwnd->surface : nullptr; }

void release_window_surface(Window* /*hwnd*/, Surface* /*surface*/) {}

// A paint shows the whole client area again, also the parts the paint itself leaves alone.
Surface* begin_paint(Window* hwnd, PaintRecord* paint) {
    Surface* surface = get_window_surface(hwnd);
    if (hwnd) mark_dirty(hwnd->client.get(), 0, 0, hwnd->client->width, hwnd->client->height);
    if (paint) paint->surface = surface;
    return surface;
}

void end_paint(Window* /*hwnd*/, PaintRecord* paint) {
    if (paint) paint->surface = nullptr;
}

void set_timer(Window* hwnd, uint32_t id, uint32_t period_ms) {
    if (!hwnd) return;
    Timer timer{id, std::max<uint32_t>(period_ms, 1), 0};
    timer.deadline_ms = SDL_GetTicks64() + timer.period_ms;
    auto same = std::find_if(hwnd->timers.begin(), hwnd->timers.end(), [id](const Timer& t) { return t.id == id; });
    if (same != hwnd->timers.end()) {
        *same = timer;
    } else {
        hwnd->timers.push_back(timer);
    }
}

void kill_timer(Window* hwnd, uint32_t id) {
    if (!hwnd) return;
    std::erase_if(hwnd->timers, [id](const Timer& t) { return t.id == id; });
}

namespace {

#ifdef __EMSCRIPTEN__
// Whether the page has added map files to the working directory since the last look.
bool maps_added() {
    return EM_ASM_INT({
        const added = Module.mapsAdded || 0;
        Module.mapsAdded = 0;
        return added;
    }) != 0;
}

// The browser cannot block: the wait yields to it until the tick is due, and wakes as soon as an
// event is queued meanwhile (SDL's handlers run while the game sleeps; every event they queue passes
// the watch below). A hidden tab wakes late, and the tick then due fires once, as on the desktop.
// clang-format off
EM_ASYNC_JS(void, sleep_until_event, (unsigned ms), {
    await new Promise(function(resolve) {
        var timer = setTimeout(function() { Module.vantorWake = null; resolve(); }, ms);
        Module.vantorWake = function() { Module.vantorWake = null; clearTimeout(timer); resolve(); };
    });
});
EM_JS(void, wake_sleep, (), {
    if (Module.vantorWake) Module.vantorWake();
});
// clang-format on

int event_queued(void* /*data*/, SDL_Event* /*event*/) {
    wake_sleep();
    return 1;
}

// The longest sleep: the page's own news (maps added) is looked at after each.
constexpr unsigned kWebSleepMs = 250;

int wait_event(SDL_Event* event, int wait_ms) {
    static bool watching = false;
    if (!watching) SDL_AddEventWatch(event_queued, nullptr);
    watching = true;
    uint64_t until = wait_ms < 0 ? UINT64_MAX : SDL_GetTicks64() + static_cast<uint64_t>(wait_ms);
    for (;;) {
        if (SDL_PollEvent(event)) return 1;
        uint64_t now = SDL_GetTicks64();
        if (now >= until) return 0;
        sleep_until_event(static_cast<unsigned>(std::min<uint64_t>(until - now, kWebSleepMs)));
    }
}
#else
int wait_event(SDL_Event* event, int wait_ms) {
    return wait_ms < 0 ? SDL_WaitEvent(event) : SDL_WaitEventTimeout(event, wait_ms);
}
#endif

}  // namespace

// Events come before ticks; with neither, sleeps until the next tick is due or an event arrives.
bool get_message(Message* msg) {
    Message local;
    Message* out = msg ? msg : &local;
    // Set when a wait has just ended without an event. SDL read the display's queue on the way
    // out, so a tick due now goes out without reading it once more: every look costs a handful of
    // system calls, and an idle game takes ten ticks a second.
    bool queue_empty = false;
    for (;;) {
        // Whatever the last message drew goes on screen before the loop waits again.
        if (g_window) present(g_window);
        if (g_quit || !g_window) return quit_message(out);
#ifdef __EMSCRIPTEN__
        if (maps_added()) {
            *out = Message{g_window, WM_DROPFILES, 0, 0};
            return true;
        }
#endif
        SDL_Event event;
        int wait = ms_until_tick();
        // A sound device left quiet is closed before the sleep; it may want a word again later.
        if (wait != 0) {
            int sound_wait = sound_idle();
            if (sound_wait >= 0 && (wait < 0 || sound_wait < wait)) wait = std::max(sound_wait, 1);
        }
        if (wait == 0) {
            if (!queue_empty && SDL_PollEvent(&event)) {
                if (translate_event(event, out)) return true;
                continue;
            }
            if (take_due_tick(out)) return true;
            continue;
        }
        int got = wait_event(&event, wait);
        queue_empty = got != 1;
        if (got == 1 && translate_event(event, out)) return true;
    }
}

int32_t dispatch_message(const Message* msg) {
    if (!msg || !msg->hwnd || msg->hwnd != g_window) return 0;
    int32_t result = msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    // The procedure may have destroyed the window.
    if (msg->hwnd == g_window) present(g_window);
    return result;
}

void wake(Window* hwnd) {
    uint32_t type = g_wake_event;
    if (!hwnd || type == 0) return;
    SDL_Event event{};
    event.type = type;
    SDL_PushEvent(&event);
}

void post_quit_message(int code) {
    g_quit = true;
    g_quit_code = code;
}

int32_t default_window_proc(Window* hwnd, uint32_t message, uint32_t /*wParam*/, int32_t /*lParam*/) {
    if (message == WM_PAINT) {
        PaintRecord paint;
        begin_paint(hwnd, &paint);
        end_paint(hwnd, &paint);
    }
    return 0;
}

}  // namespace plat

#ifdef __EMSCRIPTEN__
// The page's buttons press the game's keys through here (web/index.html): the sound button is M, so
// the button and the key are one switch. A key press like any other, queued for the message loop.
extern "C" EMSCRIPTEN_KEEPALIVE void vantor_press_key(int letter) {
    if (!plat::g_window || letter < 'A' || letter > 'Z') return;
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(plat::g_window->sdl.get());
    event.key.keysym.sym = SDLK_a + (letter - 'A');
    SDL_PushEvent(&event);
}
#endif
