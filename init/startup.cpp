// Start-up and shut-down: the random seed, the drawing surfaces and artwork, the timer.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "init/init.h"
#include "model/globals.h"
#include "model/layout.h"
#include "model/random.h"
#include "platform/bmp.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace {

// A missing or broken resource leaves the handle null, and copies from it draw nothing. No one draws
// on the artwork, so it is decoded once for the process and shared by every game on every thread.
plat::Bitmap* load_resource_bitmap(const char* name) {
    static std::mutex lock;
    // Never destroyed: games may close after the statics are gone.
    static auto* decoded = new std::map<std::string, plat::Bitmap*>;
    std::lock_guard<std::mutex> hold(lock);
    plat::Bitmap*& bitmap = (*decoded)[name];
    if (bitmap) return plat::share_bitmap(bitmap);
    const plat::Resource* res = plat::find_resource("BITMAP", name);
    if (!res) {
        std::fprintf(stderr, "vantor: the picture %s is missing from this build\n", name);
        return nullptr;
    }
    std::string error;
    bitmap = plat::decode_bmp(res->data, res->size, &error);
    plat::release_resource_pages(res->data, res->size);
    if (!bitmap) std::fprintf(stderr, "vantor: the picture %s cannot be read: %s\n", name, error.c_str());
    // The process keeps one hold of its own, for the next game.
    return plat::share_bitmap(bitmap);
}

}  // namespace

void initgame() {
    sc_randomize();
    plat::sound_open();
    initdisplay();
    loadmaps();
    initvars();
    loadsettings();
    inittimer();
}

void inittimer() {
    plat::set_timer(hwnd, TIMER_ID, TICK_MS);
    tick_ms = TICK_MS;
}

void exitgame() {
    plat::kill_timer(hwnd, TIMER_ID);
    plat::release_window_surface(hwnd, WinDC);
    WinDC = nullptr;
    plat::delete_surface(TactDC);
    plat::delete_surface(MapDC);
    TactDC = MapDC = nullptr;
    plat::delete_bitmap(hPanelgfx);
    plat::delete_bitmap(hFontgfx);
    plat::delete_bitmap(hPanelimage);
    plat::delete_bitmap(hTitlegfx);
    hPanelgfx = hFontgfx = hPanelimage = hTitlegfx = nullptr;
    // A window closed in the middle of a game still owns that game's map pictures.
    releasemap();
    plat::sound_close();
}

void initdisplay() {
    WinDC = plat::get_window_surface(hwnd);
    TactDC = plat::create_surface();
    MapDC = plat::create_surface();
    hPanelgfx = load_resource_bitmap("PanelGFX");
    hPanelimage = load_resource_bitmap("PanelImage");
    hFontgfx = load_resource_bitmap("Fontgfx");
    hTitlegfx = load_resource_bitmap("Titlegfx");
    blankpanel();
}

void blankpanel() {
    plat::select_bitmap(MapDC, hPanelimage);
    plat::blit(WinDC, 0, PANEL_Y, CLIENT_WIDTH, PANEL_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
}
