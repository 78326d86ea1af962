// Drawing surfaces, bitmaps and block copies: the stand-in for the GDI calls the game makes.
// Colours are 24-bit values written 0x00BBGGRR, as the game and its map files use them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace plat {

using Colour = uint32_t;

// What get_pixel answers outside a bitmap (CLR_INVALID).
constexpr Colour kNoColour = 0xFFFFFFFFu;

// Raster operations of a block copy.
enum Rop { SRCCOPY, SRCPAINT, BLACKNESS };

// A picture of width x height pixels, rows top-down.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels;
    // Area drawn since the window last showed it (x0 >= x1 when clean); only the window's bitmap is shown.
    int dirty_x0 = 0, dirty_y0 = 0, dirty_x1 = 0, dirty_y1 = 0;
    // A hash of each row, kept by whoever hashes the picture, and a flag for each row drawn since
    // (both empty until the first hash): a hash a tick reads only the rows that changed.
    std::vector<uint64_t> row_hashes;
    std::vector<uint8_t> rows_changed;
    // A shared bitmap is read-only: games on any thread may hold it at once, and it goes with the last
    // of them (share_bitmap). Drawing into it is a fault, and aborts.
    bool shared = false;
    std::atomic<int> holders{1};
    // A layered bitmap keeps only the tiles drawn on, kTile x kTile each, row by row; the rest read as
    // its base, a bitmap of the same size that it holds shared. Its pixels are empty: it is read and
    // drawn through the functions below alone. Tile t is its own when tile_slot[t] is not 0: slot
    // tile_slot[t] - 1, of kTile * kTile pixels, in blocks of kBlockSlots slots that never move. The
    // slots of tiles that read as the base again are used again first.
    Bitmap* base = nullptr;
    std::vector<uint16_t> tile_slot;
    std::vector<std::unique_ptr<Colour[]>> slot_blocks;
    std::vector<uint16_t> free_slots;
};

constexpr int kTile = 8;
// A game draws its icons on a few hundred tiles of the map.
constexpr size_t kBlockSlots = 32;

// A drawing surface: draws into whichever bitmap is selected into it.
struct Surface {
    Bitmap* bitmap = nullptr;
};

// A black bitmap; null for a size that is not positive or is absurdly large.
Bitmap* create_bitmap(int width, int height);
// Lets go of the bitmap: a shared one is freed with its last holder.
void delete_bitmap(Bitmap* bitmap);
// One more holder of the bitmap, which is read-only from then on; returns it. Null gives null.
Bitmap* share_bitmap(Bitmap* bitmap);

// A bitmap that reads as base, which it shares, until drawn on; null for a null or layered base, or
// one of more tiles than a slot's number holds.
Bitmap* create_layered(Bitmap* base);
// Whether the running game (platform/context.h) makes the map with its icons as a layered bitmap over
// the map: a server's rooms, whose pictures no one reads pixel by pixel. Off unless set.
void set_layered_pictures(bool on);
bool layered_pictures();
// Row y of the bitmap, 0 <= y < height: its own pixels, or a layered bitmap's gathered into scratch,
// which holds width pixels.
const Colour* read_row(const Bitmap* bitmap, int y, Colour* scratch);

Surface* create_surface();
void delete_surface(Surface* surface);

// Selects a bitmap into a surface and returns the one it held before.
Bitmap* select_bitmap(Surface* surface, Bitmap* bitmap);

// Copies w x h pixels from (sx, sy) of src to (x, y) of dst. Clipped to both bitmaps: pixels whose
// source or destination lies outside are left alone. BLACKNESS fills the destination and ignores src.
// A null surface, or one without a bitmap, draws nothing.
void blit(Surface* dst, int x, int y, int w, int h, const Surface* src, int sx, int sy, Rop rop);

// kNoColour outside the bitmap or without one.
Colour get_pixel(const Surface* surface, int x, int y);
// Does nothing outside the bitmap.
void set_pixel(Surface* surface, int x, int y, Colour colour);

// Marks a rectangle of a bitmap as drawn, for the window and for the row hashes; blit and set_pixel
// do this themselves, and code that writes pixels directly must call it.
void mark_dirty(Bitmap* bitmap, int x, int y, int w, int h);
void clear_dirty(Bitmap* bitmap);

}  // namespace plat
