// Bitmaps, surfaces and the three raster operations, on plain memory.
#include "platform/gdi.h"

#include <algorithm>

namespace plat {

namespace {

constexpr int kMaxSide = 16384;

}  // namespace

Bitmap* create_bitmap(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
    auto* bitmap = new Bitmap;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    return bitmap;
}

void delete_bitmap(Bitmap* bitmap) { delete bitmap; }

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
    mark_dirty(to, x + left, y + top, right - left, bottom - top);
}

Colour get_pixel(const Surface* surface, int x, int y) {
    if (!surface || !surface->bitmap) return kNoColour;
    const Bitmap* b = surface->bitmap;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return kNoColour;
    return b->pixels[static_cast<size_t>(y) * b->width + x];
}

void set_pixel(Surface* surface, int x, int y, Colour colour) {
    if (!surface || !surface->bitmap) return;
    Bitmap* b = surface->bitmap;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return;
    b->pixels[static_cast<size_t>(y) * b->width + x] = colour & 0xFFFFFFu;
    mark_dirty(b, x, y, 1, 1);
}

}  // namespace plat
