// Bitmaps, surfaces and block copies: the three raster operations, clipping on both sides,
// single pixels, null handles, the dirty rectangle that tells the window what to show, and bitmaps
// shared read-only or layered over a shared one.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/gdi.h"

namespace {

using plat::Bitmap;
using plat::Colour;
using plat::Surface;

struct BitmapDeleter {
    void operator()(Bitmap* b) const { plat::delete_bitmap(b); }
};
struct SurfaceDeleter {
    void operator()(Surface* s) const { plat::delete_surface(s); }
};
using BitmapPtr = std::unique_ptr<Bitmap, BitmapDeleter>;
using SurfacePtr = std::unique_ptr<Surface, SurfaceDeleter>;

// A surface with its own bitmap, every pixel filled by colour_at(x, y).
struct Canvas {
    BitmapPtr bitmap;
    SurfacePtr surface;

    Canvas(int w, int h, Colour (*colour_at)(int, int)) : bitmap(plat::create_bitmap(w, h)), surface(plat::create_surface()) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) bitmap->pixels[static_cast<size_t>(y) * w + x] = colour_at(x, y);
        plat::select_bitmap(surface.get(), bitmap.get());
        plat::clear_dirty(bitmap.get());
    }
    Colour at(int x, int y) const { return bitmap->pixels[static_cast<size_t>(y) * bitmap->width + x]; }
};

// Every source pixel tells where it came from.
Colour source_colour(int x, int y) { return 0x010000u * 7 + 0x100u * static_cast<Colour>(y) + static_cast<Colour>(x); }
Colour filler(int, int) { return 0x00A0A0A0; }
Colour black(int, int) { return 0; }

struct Rect {
    int x0, y0, x1, y1;
};
Rect dirty(const Bitmap& b) { return {b.dirty_x0, b.dirty_y0, b.dirty_x1, b.dirty_y1}; }
bool clean(const Bitmap& b) { return b.dirty_x0 >= b.dirty_x1; }
bool operator==(const Rect& a, const Rect& b) { return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1; }
std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "[" << r.x0 << "," << r.y0 << ")-(" << r.x1 << "," << r.y1 << ")";
}

// Checks every destination pixel: inside the copied rectangle it is the source pixel that lands
// there (if the source has one), outside it is unchanged.
void expect_copy(const Canvas& dst, const Canvas& src, int x, int y, int w, int h, int sx, int sy) {
    for (int py = 0; py < dst.bitmap->height; py++) {
        for (int px = 0; px < dst.bitmap->width; px++) {
            int ix = px - x + sx, iy = py - y + sy;
            bool inside = px >= x && px < x + w && py >= y && py < y + h && ix >= 0 && iy >= 0 &&
                          ix < src.bitmap->width && iy < src.bitmap->height;
            Colour want = inside ? src.at(ix, iy) : filler(px, py);
            ASSERT_EQ(dst.at(px, py), want) << "at " << px << "," << py;
        }
    }
}

TEST(GdiTest, CreateBitmap) {
    BitmapPtr b(plat::create_bitmap(3, 2));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->width, 3);
    EXPECT_EQ(b->height, 2);
    EXPECT_EQ(b->pixels, std::vector<Colour>(6, 0u));
    EXPECT_TRUE(clean(*b));
    EXPECT_EQ(plat::create_bitmap(0, 5), nullptr);
    EXPECT_EQ(plat::create_bitmap(5, -1), nullptr);
    EXPECT_EQ(plat::create_bitmap(1 << 20, 1 << 20), nullptr);
    plat::delete_bitmap(nullptr);
    plat::delete_surface(nullptr);
}

TEST(GdiTest, SelectReturnsThePreviousBitmap) {
    BitmapPtr a(plat::create_bitmap(1, 1)), b(plat::create_bitmap(1, 1));
    SurfacePtr s(plat::create_surface());
    EXPECT_EQ(plat::select_bitmap(s.get(), a.get()), nullptr);
    EXPECT_EQ(plat::select_bitmap(s.get(), b.get()), a.get());
    EXPECT_EQ(s->bitmap, b.get());
    EXPECT_EQ(plat::select_bitmap(nullptr, a.get()), nullptr);
}

TEST(GdiTest, SrcCopyReplaces) {
    Canvas src(8, 6, source_colour), dst(10, 10, filler);
    plat::blit(dst.surface.get(), 3, 2, 4, 3, src.surface.get(), 1, 2, plat::SRCCOPY);
    expect_copy(dst, src, 3, 2, 4, 3, 1, 2);
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{3, 2, 7, 5}));
    EXPECT_TRUE(clean(*src.bitmap));
}

TEST(GdiTest, SrcPaintOrsOntoTheDestination) {
    Canvas src(2, 1, [](int x, int) -> Colour { return x == 0 ? 0x00F0000F : 0; });
    Canvas dst(2, 1, [](int, int) -> Colour { return 0x000F0F00; });
    plat::blit(dst.surface.get(), 0, 0, 2, 1, src.surface.get(), 0, 0, plat::SRCPAINT);
    EXPECT_EQ(dst.at(0, 0), 0x00FF0F0Fu);
    EXPECT_EQ(dst.at(1, 0), 0x000F0F00u);  // black in the source leaves the destination alone
}

TEST(GdiTest, BlacknessNeedsNoSource) {
    Canvas dst(6, 5, filler);
    plat::blit(dst.surface.get(), 1, 1, 3, 2, nullptr, 0, 0, plat::BLACKNESS);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 6; x++)
            EXPECT_EQ(dst.at(x, y), (x >= 1 && x < 4 && y >= 1 && y < 3) ? 0u : filler(x, y)) << x << "," << y;
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{1, 1, 4, 3}));
    // Clipped like any other operation.
    plat::blit(dst.surface.get(), 4, 3, 10, 10, nullptr, 0, 0, plat::BLACKNESS);
    EXPECT_EQ(dst.at(5, 4), 0u);
    EXPECT_EQ(dst.at(3, 4), filler(3, 4));
}

TEST(GdiTest, SourcePartlyOutsideCopiesOnlyTheInside) {
    const struct {
        int x, y, w, h, sx, sy;
    } cases[] = {
        {2, 2, 5, 5, -2, -1},  // left of and above the source
        {1, 1, 6, 6, 5, 3},    // past its right and bottom edges
        {0, 0, 4, 4, 8, 0},    // wholly outside: nothing
    };
    for (const auto& c : cases) {
        Canvas src(8, 6, source_colour), dst(10, 10, filler);
        plat::blit(dst.surface.get(), c.x, c.y, c.w, c.h, src.surface.get(), c.sx, c.sy, plat::SRCCOPY);
        SCOPED_TRACE(testing::Message() << "source at " << c.sx << "," << c.sy);
        expect_copy(dst, src, c.x, c.y, c.w, c.h, c.sx, c.sy);
    }
}

TEST(GdiTest, DestinationPartlyOutsideIsClipped) {
    const struct {
        int x, y, w, h, sx, sy;
    } cases[] = {
        {-2, -3, 5, 5, 0, 0},  // negative destination coordinates
        {7, 8, 6, 6, 0, 0},    // past the right and bottom edges
        {-20, 0, 5, 5, 0, 0},  // wholly outside
    };
    for (const auto& c : cases) {
        Canvas src(8, 6, source_colour), dst(10, 10, filler);
        plat::blit(dst.surface.get(), c.x, c.y, c.w, c.h, src.surface.get(), c.sx, c.sy, plat::SRCCOPY);
        SCOPED_TRACE(testing::Message() << "destination at " << c.x << "," << c.y);
        expect_copy(dst, src, c.x, c.y, c.w, c.h, c.sx, c.sy);
    }
    // The first case by hand: source (2..4, 3..4) lands at (0..2, 0..1).
    Canvas src(8, 6, source_colour), dst(10, 10, filler);
    plat::blit(dst.surface.get(), -2, -3, 5, 5, src.surface.get(), 0, 0, plat::SRCCOPY);
    EXPECT_EQ(dst.at(0, 0), src.at(2, 3));
    EXPECT_EQ(dst.at(2, 1), src.at(4, 4));
    EXPECT_EQ(dst.at(3, 0), filler(3, 0));
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{0, 0, 3, 2}));
}

TEST(GdiTest, EmptyAndNegativeSizesDrawNothing) {
    Canvas src(4, 4, source_colour), dst(4, 4, filler);
    plat::blit(dst.surface.get(), 0, 0, 0, 4, src.surface.get(), 0, 0, plat::SRCCOPY);
    plat::blit(dst.surface.get(), 0, 0, 4, -1, src.surface.get(), 0, 0, plat::SRCCOPY);
    plat::blit(dst.surface.get(), 0, 0, -4, -4, nullptr, 0, 0, plat::BLACKNESS);
    expect_copy(dst, src, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(clean(*dst.bitmap));
}

TEST(GdiTest, NullSurfacesAndBitmapsDrawNothing) {
    Canvas src(4, 4, source_colour), dst(4, 4, filler);
    SurfacePtr empty(plat::create_surface());
    plat::blit(dst.surface.get(), 0, 0, 4, 4, nullptr, 0, 0, plat::SRCCOPY);
    plat::blit(dst.surface.get(), 0, 0, 4, 4, empty.get(), 0, 0, plat::SRCPAINT);
    plat::blit(nullptr, 0, 0, 4, 4, src.surface.get(), 0, 0, plat::SRCCOPY);
    plat::blit(empty.get(), 0, 0, 4, 4, src.surface.get(), 0, 0, plat::SRCCOPY);
    plat::blit(empty.get(), 0, 0, 4, 4, nullptr, 0, 0, plat::BLACKNESS);
    expect_copy(dst, src, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(clean(*dst.bitmap));
    EXPECT_EQ(plat::get_pixel(nullptr, 0, 0), plat::kNoColour);
    EXPECT_EQ(plat::get_pixel(empty.get(), 0, 0), plat::kNoColour);
    plat::set_pixel(nullptr, 0, 0, 1);
    plat::set_pixel(empty.get(), 0, 0, 1);
}

TEST(GdiTest, Pixels) {
    Canvas c(5, 4, black);
    plat::set_pixel(c.surface.get(), 4, 3, 0x00123456);
    EXPECT_EQ(plat::get_pixel(c.surface.get(), 4, 3), 0x00123456u);
    EXPECT_EQ(c.at(4, 3), 0x00123456u);
    EXPECT_EQ(plat::get_pixel(c.surface.get(), 3, 3), 0u);
    // Only the 24 colour bits are kept.
    plat::set_pixel(c.surface.get(), 0, 0, 0xFF00FF00);
    EXPECT_EQ(plat::get_pixel(c.surface.get(), 0, 0), 0x0000FF00u);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {5, 0}, {0, 4}, {5, 4}, {-100000, 100000}})
        EXPECT_EQ(plat::get_pixel(c.surface.get(), x, y), plat::kNoColour) << x << "," << y;
}

TEST(GdiTest, SetPixelOutsideDoesNothing) {
    Canvas c(3, 3, filler);
    for (auto [x, y] : {std::pair{-1, 1}, {1, -1}, {3, 1}, {1, 3}}) plat::set_pixel(c.surface.get(), x, y, 0);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(c.at(x, y), filler(x, y));
    EXPECT_TRUE(clean(*c.bitmap));
}

TEST(GdiTest, DirtyRectangleGrowsToCoverEveryDrawing) {
    Canvas src(4, 4, source_colour), dst(20, 20, filler);
    plat::set_pixel(dst.surface.get(), 5, 6, 1);
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{5, 6, 6, 7}));
    plat::blit(dst.surface.get(), 10, 2, 2, 2, src.surface.get(), 0, 0, plat::SRCCOPY);
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{5, 2, 12, 7}));
    plat::set_pixel(dst.surface.get(), 1, 3, 1);  // left of it: only the left edge moves
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{1, 2, 12, 7}));
    plat::blit(dst.surface.get(), 18, 18, 4, 4, src.surface.get(), 0, 0, plat::SRCPAINT);  // clipped to 2 x 2
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{1, 2, 20, 20}));
    plat::clear_dirty(dst.bitmap.get());
    EXPECT_TRUE(clean(*dst.bitmap));

    // Drawing that touches nothing marks nothing.
    plat::blit(dst.surface.get(), 30, 30, 4, 4, src.surface.get(), 0, 0, plat::SRCCOPY);
    plat::blit(dst.surface.get(), 0, 0, 4, 4, src.surface.get(), 10, 10, plat::SRCCOPY);
    plat::set_pixel(dst.surface.get(), -1, -1, 0);
    EXPECT_TRUE(clean(*dst.bitmap));

    plat::mark_dirty(dst.bitmap.get(), 3, 4, 0, 5);
    EXPECT_TRUE(clean(*dst.bitmap));
    plat::mark_dirty(dst.bitmap.get(), 3, 4, 2, 5);
    EXPECT_EQ(dirty(*dst.bitmap), (Rect{3, 4, 5, 9}));
    plat::mark_dirty(nullptr, 0, 0, 1, 1);
    plat::clear_dirty(nullptr);
}

// A layered bitmap over a shared base draws, pixel for pixel, as a plain copy of the base does, through
// every operation, on tile edges and clipped, onto itself as it takes new tiles; the base is never
// written; copying the base back onto its place gives the tiles back, to be drawn on again.
TEST(GdiTest, LayeredBitmapDrawsAsAPlainCopy) {
    const int w = 9 * plat::kTile + 5, h = 5 * plat::kTile + 3;
    Canvas base(w, h, source_colour), sheet(12, 9, filler);
    plat::set_pixel(sheet.surface.get(), 3, 3, 0x00400201);
    Bitmap* shared = plat::share_bitmap(base.bitmap.get());
    BitmapPtr layered(plat::create_layered(shared));
    plat::delete_bitmap(shared);  // the layered bitmap keeps its own hold on the base
    ASSERT_TRUE(layered);
    EXPECT_TRUE(layered->pixels.empty());
    EXPECT_EQ(plat::create_layered(layered.get()), nullptr);
    Canvas plain(w, h, source_colour);
    SurfacePtr over(plat::create_surface());
    plat::select_bitmap(over.get(), layered.get());
    auto both = [&](auto draw) {
        draw(plain.surface.get());
        draw(over.get());
    };
    auto expect_same = [&](const char* after) {
        std::vector<Colour> scratch(w);
        for (int y = 0; y < h; y++) {
            const Colour* row = plat::read_row(layered.get(), y, scratch.data());
            for (int x = 0; x < w; x++) ASSERT_EQ(row[x], plain.at(x, y)) << after << " at " << x << "," << y;
        }
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) ASSERT_EQ(base.at(x, y), source_colour(x, y)) << after;
    };
    both([&](Surface* s) { plat::blit(s, plat::kTile - 4, 5, 12, 9, sheet.surface.get(), 0, 0, plat::SRCCOPY); });
    expect_same("a copy across a tile edge");
    both([&](Surface* s) { plat::blit(s, w - 6, h - 4, 12, 9, sheet.surface.get(), 0, 0, plat::SRCPAINT); });
    expect_same("a paint clipped at the corner");
    both([&](Surface* s) { plat::blit(s, -3, 2 * plat::kTile - 1, 7, 3, nullptr, 0, 0, plat::BLACKNESS); });
    both([&](Surface* s) { plat::set_pixel(s, w - 1, 0, 0x00ABCDEF); });
    expect_same("blackness and a pixel");
    EXPECT_EQ(plat::get_pixel(over.get(), w - 1, 0), 0x00ABCDEFu);
    both([&](Surface* s) { plat::blit(s, 20, 1, 9, 9, base.surface.get(), 2, 30, plat::SRCCOPY); });
    both([&](Surface* s) { plat::blit(s, 0, 0, plat::kTile + 3, 9, base.surface.get(), 0, 0, plat::SRCCOPY); });
    expect_same("the base copied elsewhere and partly onto its place");
    both([&](Surface* s) { plat::blit(s, 0, 3 * plat::kTile, w, h - 3 * plat::kTile, s, 0, 0, plat::SRCCOPY); });
    EXPECT_GT(layered->slot_blocks.size(), 1u);
    expect_same("a copy onto itself that takes new tiles");
    both([&](Surface* s) { plat::blit(s, 0, 0, w, h, base.surface.get(), 0, 0, plat::SRCCOPY); });
    expect_same("the base copied whole onto its place");
    for (uint16_t slot : layered->tile_slot) EXPECT_EQ(slot, 0);
    size_t blocks = layered->slot_blocks.size();
    both([&](Surface* s) { plat::blit(s, 1, 1, 12, 9, sheet.surface.get(), 0, 0, plat::SRCCOPY); });
    expect_same("a copy after the tiles were given back");
    EXPECT_EQ(layered->slot_blocks.size(), blocks);
}

// Drawing into a shared bitmap is a fault: other games read it at the same moment.
TEST(GdiDeathTest, DrawingIntoASharedBitmapAborts) {
    Canvas c(4, 4, filler);
    plat::delete_bitmap(plat::share_bitmap(c.bitmap.get()));
    EXPECT_EQ(c.bitmap->holders.load(), 1);
    EXPECT_DEATH(plat::set_pixel(c.surface.get(), 1, 1, 0), "");
    EXPECT_DEATH(plat::blit(c.surface.get(), 0, 0, 2, 2, nullptr, 0, 0, plat::BLACKNESS), "");
}

}  // namespace
