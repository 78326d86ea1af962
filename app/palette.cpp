// The colour-blind palette, applied by the platform as it shows the window (app/palette.h).
#include "app/palette.h"

#include <algorithm>

#include "app/app.h"
#include "init/init.h"
#include "model/globals.h"
#include "model/layout.h"

using plat::Colour;

const Colour kPaletteColours[4] = {0x0020'32DCu, 0x00FF'5A00u, 0x0000'DCFFu, 0x00B4'C800u};

namespace {

constexpr int kBrightestMap = 176;  // no map pixel is brighter in any channel

// Each side's letter, 5 x 7, drawn white with a black rim.
const char* const kLetters[4][7] = {
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"},  // R
    {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."},  // B
    {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."},  // Y
    {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."},  // G
};

int red(Colour c) { return static_cast<int>(c & 0xFF); }
int green(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
int blue(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }

// The side whose colour an icon ORed over the map shows: its colour's channels full, the others no
// brighter than a map; -1 for anything else.
int icon_side(Colour c) {
    int r = red(c), g = green(c), b = blue(c);
    bool low_r = r <= kBrightestMap, low_g = g <= kBrightestMap, low_b = b <= kBrightestMap;
    if (r == 255 && g == 255 && low_b) return 2;
    if (r == 255 && low_g && low_b) return 0;
    if (b == 255 && low_r && low_g) return 1;
    if (g == 255 && low_r && low_b) return 3;
    return -1;
}

// The side whose colour a plate or a face shades over black, with its level 1..255; -1 for others.
int shaded_side(Colour c, int* level) {
    int r = red(c), g = green(c), b = blue(c);
    *level = std::max(r, std::max(g, b));
    if (*level == 0 || (b > 0 && (r > 0 || g > 0))) return -1;
    if (b > 0) return 1;
    if (r > 0 && g == 0) return 0;
    if (r == 0) return 3;
    return r == g ? 2 : -1;
}

Colour scaled(Colour c, int level) {
    auto part = [&](int shift) { return static_cast<Colour>(((c >> shift) & 0xFF) * level / 255) << shift; };
    return part(0) | part(8) | part(16);
}

// The side a box shows, from the picture: -1 when it shows none.
int box_side(const Colour* picture, int width, int x, int y, int w, int h) {
    for (int dy = 0; dy < h; dy++)
        for (int dx = 0; dx < w; dx++) {
            int level = 0;
            int side = shaded_side(picture[(y + dy) * width + x + dx], &level);
            if (side >= 0) return side;
        }
    return -1;
}

// A side's letter with its top left corner at (lx, ly), where it falls inside the rectangle shown.
void mark(Colour* out, int width, int side, int lx, int ly, int x, int y, int w, int h) {
    auto lit = [&](int col, int row) {
        return col >= 0 && col < 5 && row >= 0 && row < 7 && kLetters[side][row][col] == '#';
    };
    for (int row = -1; row <= 7; row++)
        for (int col = -1; col <= 5; col++) {
            int px = lx + col, py = ly + row;
            if (px < x || px >= x + w || py < y || py >= y + h) continue;
            bool rim = false;
            for (int k = 0; k < 9; k++) rim = rim || lit(col + k % 3 - 1, row + k / 3 - 1);
            if (lit(col, row)) out[py * width + px] = 0x00FFFFFFu;
            else if (rim) out[py * width + px] = 0;
        }
}

bool inside(int px, int py, int x, int y, int w, int h) { return px >= x && px < x + w && py >= y && py < y + h; }

// A pixel as the palette shows it: icons over the map and in the close-up, the plates and faces of
// the boxes. Elsewhere (the Start and Fire buttons) red stays red.
Colour recolour(Colour c, int px, int py, bool map_shown) {
    int side = -1, level = 0;
    if (map_shown && (py < MAP_HEIGHT || inside(px, py, CLOSEUP_X, CLOSEUP_Y, CLOSEUP_WIDTH, CLOSEUP_HEIGHT))) {
        side = icon_side(c);
        return side >= 0 ? kPaletteColours[side] : c;
    }
    int k = px >= PLAYER_BOX_X ? (px - PLAYER_BOX_X) / PLAYER_BOX_PITCH : -1;
    bool boxed = SIDE_BOX.contains(px, py) ||
                 (timer_mode == MODE_TITLE && k >= 0 && k < NUM_SIDES && player_box(k).contains(px, py));
    if (boxed) side = shaded_side(c, &level);
    return side >= 0 ? scaled(kPaletteColours[side], level) : c;
}

}  // namespace

void show_palette(const Colour* picture, Colour* out, int width, int x, int y, int w, int h) {
    bool map_shown = timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER;
    for (int py = y; py < y + h; py++)
        for (int px = x; px < x + w; px++) out[py * width + px] = recolour(picture[py * width + px], px, py, map_shown);
    if (timer_mode == MODE_TITLE) {
        for (int p = 0; p < NUM_SIDES; p++) {
            Rect box = player_box(p);
            if (box_side(picture, width, box.x0, box.y0, box.width(), box.height()) == p)
                mark(out, width, p, box.x0 + 18, box.y0 + 16, x, y, w, h);
        }
    }
    int side = box_side(picture, width, SIDE_BOX.x0, SIDE_BOX.y0 + 12, SIDE_BOX.width(), 1);
    if (side >= 0) mark(out, width, side, SIDE_BOX.x0 + 27, SIDE_BOX.y0 + 9, x, y, w, h);
}

void set_palette(bool on, bool remember) {
    plat::set_present_filter(hwnd, on ? show_palette : nullptr);
    if (remember) savecolourblind(on);
    tell_page_switch("palette", on);
}

bool palette_key(const plat::Message& msg) {
    if (msg.message != plat::WM_KEYDOWN || msg.wParam != 'C') return false;
    set_palette(!colourblind(), true);
    return true;
}

