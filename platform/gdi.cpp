// Bitmaps, plain or layered over a shared one, surfaces and the three raster operations.
#include "platform/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/context.h"

namespace plat {

namespace {

constexpr int kMaxSide = 16384;

thread_local GameContext t_own;
thread_local GameContext* t_context = &t_own;

// Pixels of a shared bitmap are read by other games, perhaps on other threads, at this very moment.
void check_writable(const Bitmap* bitmap) {
    if (bitmap->shared) std::abort();
}

size_t tile_of(const Bitmap* b, int x, int y) {
    int across = (b->width + kTile - 1) / kTile;
    return static_cast<size_t>(y / kTile) * static_cast<size_t>(across) + static_cast<size_t>(x / kTile);
}

constexpr size_t kTilePixels = kTile * kTile;

Colour* slot_pixels(const Bitmap* b, size_t tile) {
    size_t slot = b->tile_slot[tile] - 1u;
    return &b->slot_blocks[slot / kBlockSlots][slot % kBlockSlots * kTilePixels];
}

// Pixel (x, y), inside the bitmap, and in *run how many pixels from it on along the row lie in the same
// storage.
const Colour* read_span(const Bitmap* b, int x, int y, int* run) {
    if (!b->base) {
        *run = b->width - x;
        return &b->pixels[static_cast<size_t>(y) * b->width + x];
    }
    *run = std::min(kTile - x % kTile, b->width - x);
    size_t tile = tile_of(b, x, y);
    if (!b->tile_slot[tile]) return &b->base->pixels[static_cast<size_t>(y) * b->width + x];
    return slot_pixels(b, tile) + static_cast<size_t>(y % kTile) * kTile + x % kTile;
}

// The same to write to: a layered bitmap's tile becomes its own first, a copy of its base's.
Colour* write_span(Bitmap* b, int x, int y, int* run) {
    if (!b->base) {
        *run = b->width - x;
        return &b->pixels[static_cast<size_t>(y) * b->width + x];
    }
    *run = std::min(kTile - x % kTile, b->width - x);
    size_t tile = tile_of(b, x, y);
    if (!b->tile_slot[tile]) {
        if (b->free_slots.empty()) {
            size_t first = b->slot_blocks.size() * kBlockSlots + 1;
            b->slot_blocks.push_back(std::make_unique<Colour[]>(kBlockSlots * kTilePixels));
            for (size_t i = kBlockSlots; i-- > 0;) b->free_slots.push_back(static_cast<uint16_t>(first + i));
        }
        b->tile_slot[tile] = b->free_slots.back();
        b->free_slots.pop_back();
        Colour* own = slot_pixels(b, tile);
        int x0 = x / kTile * kTile, y0 = y / kTile * kTile;
        int w = std::min(kTile, b->width - x0), h = std::min(kTile, b->height - y0);
        for (int r = 0; r < h; r++) {
            const Colour* in = &b->base->pixels[static_cast<size_t>(y0 + r) * b->width + x0];
            std::copy(in, in + w, own + static_cast<size_t>(r) * kTile);
        }
    }
    return slot_pixels(b, tile) + static_cast<size_t>(y % kTile) * kTile + x % kTile;
}

// The tiles the rectangle covers whole read as the base again.
void drop_tiles(Bitmap* b, int x, int y, int w, int h) {
    for (int ty = y / kTile; ty * kTile < y + h; ty++) {
        for (int tx = x / kTile; tx * kTile < x + w; tx++) {
            int x0 = tx * kTile, y0 = ty * kTile;
            if (x0 >= x && y0 >= y && std::min(x0 + kTile, b->width) <= x + w &&
                std::min(y0 + kTile, b->height) <= y + h)
                if (uint16_t& slot = b->tile_slot[tile_of(b, x0, y0)]) b->free_slots.push_back(std::exchange(slot, 0));
        }
    }
}

// A block copy, clipped to columns left..right and rows top..bottom of the rectangle at (x, y), where a
// bitmap is layered: along each row in pieces that each lie in one storage of both bitmaps.
void blit_layered(Bitmap* to, int x, int y, const Bitmap* from, int sx, int sy, Rop rop, int left, int top, int right,
                  int bottom) {
    // The base copied onto its own place: the tiles covered whole are the base's again, and those that
    // are the base's already are left alone.
    bool from_base = rop == SRCCOPY && from == to->base && sx == x && sy == y;
    if (from_base) drop_tiles(to, x + left, y + top, right - left, bottom - top);
    for (int row = top; row < bottom; row++) {
        for (int col = left, n = 0; col < right; col += n) {
            int dx = x + col, dy = y + row, run = 0;
            n = right - col;
            if (from_base && !to->tile_slot[tile_of(to, dx, dy)]) {
                n = std::min(n, kTile - dx % kTile);
                continue;
            }
            Colour* out = write_span(to, dx, dy, &run);
            n = std::min(n, run);
            if (rop == BLACKNESS) {
                std::fill(out, out + n, 0u);
                continue;
            }
            const Colour* in = read_span(from, sx + col, sy + row, &run);
            n = std::min(n, run);
            if (rop == SRCCOPY) {
                std::copy(in, in + n, out);
            } else {
                for (int i = 0; i < n; i++) out[i] |= in[i];
            }
        }
    }
}

}  // namespace

Bitmap* create_bitmap(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
    auto* bitmap = new Bitmap;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    return bitmap;
}

Bitmap* create_layered(Bitmap* base) {
    if (!base || base->base) return nullptr;
    auto* bitmap = new Bitmap;
    bitmap->width = base->width;
    bitmap->height = base->height;
    bitmap->base = share_bitmap(base);
    size_t tiles = tile_of(bitmap, bitmap->width - 1, bitmap->height - 1) + 1;
    if (tiles + kBlockSlots > std::numeric_limits<uint16_t>::max()) {
        delete_bitmap(bitmap);
        return nullptr;
    }
    bitmap->tile_slot.assign(tiles, 0);
    return bitmap;
}

GameContext& game_context() { return *t_context; }

void use_game_context(GameContext* context) { t_context = context ? context : &t_own; }

void set_layered_pictures(bool on) { t_context->layered = on; }

bool layered_pictures() { return t_context->layered; }

const Colour* read_row(const Bitmap* bitmap, int y, Colour* scratch) {
    if (!bitmap->base) return &bitmap->pixels[static_cast<size_t>(y) * bitmap->width];
    for (int x = 0, run = 0; x < bitmap->width; x += run) {
        const Colour* in = read_span(bitmap, x, y, &run);
        std::copy(in, in + run, scratch + x);
    }
    return scratch;
}

void delete_bitmap(Bitmap* bitmap) {
    if (!bitmap || bitmap->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    Bitmap* base = bitmap->base;
    delete bitmap;
    delete_bitmap(base);
}

Bitmap* share_bitmap(Bitmap* bitmap) {
    if (!bitmap) return nullptr;
    bitmap->shared = true;
    bitmap->holders.fetch_add(1, std::memory_order_relaxed);
    return bitmap;
}

Surface* create_surface() { return new Surface; }

void delete_surface(Surface* surface) { delete surface; }

Bitmap* select_bitmap(Surface* surface, Bitmap* bitmap) {
    if (!surface) return nullptr;
    Bitmap* old = surface->bitmap;
    surface->bitmap = bitmap;
    return old;
}

void mark_dirty(Bitmap* bitmap, int x, int y, int w, int h) {
    if (!bitmap || w <= 0 || h <= 0) return;
    check_writable(bitmap);
    if (!bitmap->rows_changed.empty()) {
        int top = std::max(y, 0);
        int bottom = std::min(y + h, bitmap->height);
        for (int row = top; row < bottom; row++) bitmap->rows_changed[static_cast<size_t>(row)] = 1;
    }
    int x1 = x + w;
    int y1 = y + h;
    if (bitmap->dirty_x0 >= bitmap->dirty_x1) {
        bitmap->dirty_x0 = x, bitmap->dirty_y0 = y, bitmap->dirty_x1 = x1, bitmap->dirty_y1 = y1;
        return;
    }
    bitmap->dirty_x0 = std::min(bitmap->dirty_x0, x);
    bitmap->dirty_y0 = std::min(bitmap->dirty_y0, y);
    bitmap->dirty_x1 = std::max(bitmap->dirty_x1, x1);
    bitmap->dirty_y1 = std::max(bitmap->dirty_y1, y1);
}

void clear_dirty(Bitmap* bitmap) {
    if (!bitmap) return;
    bitmap->dirty_x0 = bitmap->dirty_y0 = bitmap->dirty_x1 = bitmap->dirty_y1 = 0;
}

void blit(Surface* dst, int x, int y, int w, int h, const Surface* src, int sx, int sy, Rop rop) {
    if (!dst || !dst->bitmap || w <= 0 || h <= 0) return;
    Bitmap* to = dst->bitmap;
    const Bitmap* from = nullptr;
    if (rop != BLACKNESS) {
        if (!src || !src->bitmap) return;
        from = src->bitmap;
    }
    // Clip the rectangle so that every pixel lies inside the destination and, for a copy, the source.
    int left = std::max(0, -x);
    int top = std::max(0, -y);
    int right = std::min(w, to->width - x);
    int bottom = std::min(h, to->height - y);
    if (from) {
        left = std::max(left, -sx);
        top = std::max(top, -sy);
        right = std::min(right, from->width - sx);
        bottom = std::min(bottom, from->height - sy);
    }
    if (left >= right || top >= bottom) return;
    check_writable(to);
    if (to->base || (from && from->base)) {
        blit_layered(to, x, y, from, sx, sy, rop, left, top, right, bottom);
    } else {
        for (int row = top; row < bottom; row++) {
            Colour* out = &to->pixels[static_cast<size_t>(y + row) * to->width + (x + left)];
            if (rop == BLACKNESS) {
                std::fill(out, out + (right - left), 0u);
                continue;
            }
            const Colour* in = &from->pixels[static_cast<size_t>(sy + row) * from->width + (sx + left)];
            if (rop == SRCCOPY) {
                std::copy(in, in + (right - left), out);
            } else {
                for (int i = 0; i < right - left; i++) out[i] |= in[i];
            }
        }
    }
    mark_dirty(to, x + left, y + top, right - left, bottom - top);
}

Colour get_pixel(const Surface* surface, int x, int y) {
    if (!surface || !surface->bitmap) return kNoColour;
    const Bitmap* b = surface->bitmap;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return kNoColour;
    if (!b->base) return b->pixels[static_cast<size_t>(y) * b->width + x];
    int run = 0;
    return *read_span(b, x, y, &run);
}

void set_pixel(Surface* surface, int x, int y, Colour colour) {
    if (!surface || !surface->bitmap) return;
    Bitmap* b = surface->bitmap;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return;
    check_writable(b);
    int run = 0;
    Colour* at = b->base ? write_span(b, x, y, &run) : &b->pixels[static_cast<size_t>(y) * b->width + x];
    *at = colour & 0xFFFFFFu;
    mark_dirty(b, x, y, 1, 1);
}

}  // namespace plat
