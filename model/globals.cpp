// Definitions of every global of the game, with their starting values.
#include "model/globals.h"

#include <cstring>

weapon item[NUM_UNITS];
icbm shot[NUM_SHOTS];
filename filelist[MAX_MAPS];
bool map_builtin[MAX_MAPS];
uint8_t num_maps;

uint8_t num_players = 4;
bool cpu_player[NUM_SIDES];
uint8_t cur_map;
uint8_t num_city;
uint8_t num_silo;
uint8_t num_sub;
uint8_t num_factory;
uint16_t cpu_skill;

uint32_t sidecols[NUM_SIDES];
uint32_t startcols[NUM_SIDES];
uint16_t seed;

uint8_t timer_mode;
uint8_t cur_player;
uint8_t cur_unit;
bool alive[NUM_SIDES];
bool justaborted;
bool introover;
bool cursor_on;
uint8_t timer_count;
uint16_t bearing;
uint16_t power;
uint8_t supply;

uint8_t cpu_unit;
uint16_t cpu_bearing;
uint16_t cpu_power;
uint16_t cpu_timer;

char title_message[32];

plat::Window* hwnd;
void* hInst;
plat::Surface* WinDC;
plat::Surface* MapDC;
plat::Surface* TactDC;
plat::Surface* FullDC;
plat::Surface* PaintDC;
plat::Surface* TempDC;
plat::PaintRecord paintstruct;
plat::Bitmap* hMainmap;
plat::Bitmap* hTacticalmap;
plat::Bitmap* hFullimage;
plat::Bitmap* hPanelgfx;
plat::Bitmap* hPanelimage;
plat::Bitmap* hFontgfx;
plat::Bitmap* hTitlegfx;

void reset_globals() {
    std::memset(item, 0, sizeof item);
    std::memset(static_cast<void*>(shot), 0, sizeof shot);
    std::memset(filelist, 0, sizeof filelist);
    std::memset(map_builtin, 0, sizeof map_builtin);
    num_maps = 0;
    num_players = 4;
    for (int i = 0; i < NUM_SIDES; i++) {
        cpu_player[i] = false;
        sidecols[i] = 0;
        startcols[i] = 0;
        alive[i] = false;
    }
    cur_map = num_city = num_silo = num_sub = num_factory = 0;
    cpu_skill = 0;
    seed = 0;
    timer_mode = cur_player = cur_unit = 0;
    justaborted = introover = cursor_on = false;
    timer_count = 0;
    bearing = power = 0;
    supply = 0;
    cpu_unit = 0;
    cpu_bearing = cpu_power = cpu_timer = 0;
    title_message[0] = 0;
    hwnd = nullptr;
    hInst = nullptr;
    WinDC = MapDC = TactDC = FullDC = PaintDC = TempDC = nullptr;
    paintstruct = plat::PaintRecord{};
    hMainmap = hTacticalmap = hFullimage = nullptr;
    hPanelgfx = hPanelimage = hFontgfx = hTitlegfx = nullptr;
}
