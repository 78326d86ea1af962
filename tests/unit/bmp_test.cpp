// BMP decoding and writing: good pictures in the formats the game meets come out right side up in
// 0x00BBGGRR, and every malformed file gives either nothing or a well-formed bitmap, never a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/bmp.h"

namespace {

using plat::Bitmap;
using plat::Colour;
using Bytes = std::vector<uint8_t>;

struct BitmapDeleter {
    void operator()(Bitmap* b) const { plat::delete_bitmap(b); }
};
using BitmapPtr = std::unique_ptr<Bitmap, BitmapDeleter>;

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2;

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets of the header fields that the tests break.
constexpr size_t kOffBits = 10, kInfoSize = 14, kWidth = 18, kHeight = 22, kBitCount = 28, kCompression = 30,
                 kClrUsed = 46, kHeadersEnd = 54;

// A BMP file: the two headers, the palette (0x00BBGGRR colours) and the pixel data as given.
Bytes make_bmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression, const std::vector<Colour>& palette,
               const Bytes& pixels) {
    Bytes b(kHeadersEnd + 4 * palette.size());
    b[0] = 'B';
    b[1] = 'M';
    put32(b, kOffBits, static_cast<uint32_t>(b.size()));
    put32(b, kInfoSize, 40);
    put32(b, kWidth, static_cast<uint32_t>(width));
    put32(b, kHeight, static_cast<uint32_t>(height));
    put16(b, 26, 1);  // planes
    put16(b, kBitCount, bpp);
    put32(b, kCompression, compression);
    put32(b, 34, static_cast<uint32_t>(pixels.size()));
    put32(b, kClrUsed, static_cast<uint32_t>(palette.size()));
    for (size_t i = 0; i < palette.size(); i++) {  // blue, green, red, 0: the bytes of 0x00BBGGRR reversed
        Colour c = palette[i];
        put32(b, kHeadersEnd + 4 * i, (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF));
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    put32(b, 2, static_cast<uint32_t>(b.size()));
    return b;
}

// Rows of 0x00BBGGRR colours, top row first, stored as 24-bit BGR rows padded to 4 bytes.
Bytes rows24(const std::vector<std::vector<Colour>>& rows, bool bottom_up) {
    Bytes out;
    for (size_t i = 0; i < rows.size(); i++) {
        const auto& row = rows[bottom_up ? rows.size() - 1 - i : i];
        for (Colour c : row) {
            out.push_back(static_cast<uint8_t>(c >> 16));
            out.push_back(static_cast<uint8_t>(c >> 8));
            out.push_back(static_cast<uint8_t>(c));
        }
        while (out.size() % 4) out.push_back(0);
    }
    return out;
}

BitmapPtr decode(const Bytes& b, std::string* error = nullptr) { return BitmapPtr(plat::decode_bmp(b.data(), b.size(), error)); }

Colour pixel(const Bitmap& b, int x, int y) { return b.pixels[static_cast<size_t>(y) * b.width + x]; }

// What every decode must give: nothing, with a reason, or a bitmap whose fields agree.
void expect_clean(const Bytes& file, const std::string& what) {
    std::string error;
    BitmapPtr b = decode(file, &error);
    if (!b) {
        EXPECT_FALSE(error.empty()) << what << ": no reason given";
        return;
    }
    EXPECT_GT(b->width, 0) << what;
    EXPECT_GT(b->height, 0) << what;
    ASSERT_EQ(b->pixels.size(), static_cast<size_t>(b->width) * static_cast<size_t>(b->height)) << what;
    for (Colour c : b->pixels) ASSERT_EQ(c & 0xFF000000u, 0u) << what;
}

const std::vector<std::vector<Colour>> kPicture = {
    {0x000000FF, 0x0000FF00, 0x00FF0000},
    {0x00FFFF00, 0x00123456, 0x00FFFFFF},
};

void expect_picture(const Bitmap& b) {
    ASSERT_EQ(b.width, 3);
    ASSERT_EQ(b.height, 2);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(pixel(b, x, y), kPicture[y][x]) << x << "," << y;
}

// 5 x 3 in four palette colours; indexes top row first.
const std::vector<Colour> kPalette = {0x00000000, 0x000000FF, 0x00FFFF00, 0x00804020};
const uint8_t kIndexes[3][5] = {{0, 1, 2, 3, 0}, {1, 1, 1, 1, 1}, {3, 2, 1, 0, 3}};

Bytes palette8_file() {
    Bytes px;
    for (int y = 2; y >= 0; y--) {
        for (int x = 0; x < 5; x++) px.push_back(kIndexes[y][x]);
        px.insert(px.end(), {0, 0, 0});  // rows padded to 8 bytes
    }
    return make_bmp(5, 3, 8, kRGB, kPalette, px);
}

// RLE8 of the same picture, bottom row first: runs, an absolute run, end-of-line and end markers.
Bytes rle8_file(const Bytes& tail = {0, 1}) {
    Bytes px = {
        1, 3, 1, 2, 1, 1, 1, 0, 1, 3, 0, 0,  // bottom row: 3 2 1 0 3
        5, 1, 0, 0,                          // middle row: five 1s
        0, 5, 0, 1, 2, 3, 0, 0, 0, 0,        // top row as an absolute run of 5, padded to a word
    };
    px.insert(px.end(), tail.begin(), tail.end());
    return make_bmp(5, 3, 8, kRLE8, kPalette, px);
}

void expect_palette_picture(const Bitmap& b) {
    ASSERT_EQ(b.width, 5);
    ASSERT_EQ(b.height, 3);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++) EXPECT_EQ(pixel(b, x, y), kPalette[kIndexes[y][x]]) << x << "," << y;
}

TEST(BmpTest, TwentyFourBitBottomUp) {
    BitmapPtr b = decode(make_bmp(3, 2, 24, kRGB, {}, rows24(kPicture, true)));
    ASSERT_TRUE(b);
    expect_picture(*b);
}

TEST(BmpTest, TwentyFourBitTopDown) {
    BitmapPtr b = decode(make_bmp(3, -2, 24, kRGB, {}, rows24(kPicture, false)));
    ASSERT_TRUE(b);
    expect_picture(*b);
}

TEST(BmpTest, EightBitPalette) {
    BitmapPtr b = decode(palette8_file());
    ASSERT_TRUE(b);
    expect_palette_picture(*b);
}

TEST(BmpTest, EightBitRunLengths) {
    BitmapPtr b = decode(rle8_file());
    ASSERT_TRUE(b);
    expect_palette_picture(*b);
}

TEST(BmpTest, BrokenHeadersFailCleanly) {
    const Bytes good = make_bmp(3, 2, 24, kRGB, {}, rows24(kPicture, true));
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        int width;  // 2 or 4 bytes
    };
    const Case cases[] = {
        {"wrong magic", 0, 'M' | 'B' << 8, 2},
        {"OS/2 array magic", 0, 'B' | 'A' << 8, 2},
        {"zero width", kWidth, 0, 4},
        {"zero height", kHeight, 0, 4},
        {"negative width", kWidth, static_cast<uint32_t>(-3), 4},
        {"huge width", kWidth, 0x7FFFFFFF, 4},
        {"huge height", kHeight, 0x7FFFFFFF, 4},
        {"most negative height", kHeight, 0x80000000u, 4},
        {"huge area", kWidth, 100000, 4},
        {"wider than a bitmap may be", kWidth, 20000, 4},
        {"no bits per pixel", kBitCount, 0, 2},
        {"3 bits per pixel", kBitCount, 3, 2},
        {"7 bits per pixel", kBitCount, 7, 2},
        {"13 bits per pixel", kBitCount, 13, 2},
        {"64 bits per pixel", kBitCount, 64, 2},
        {"unknown compression", kCompression, 99, 4},
        {"bit fields with 24 bits", kCompression, 3, 4},
        {"run lengths with 24 bits", kCompression, kRLE8, 4},
        {"pixels past the end", kOffBits, 100000, 4},
        {"pixels inside the header", kOffBits, 2, 4},
        {"header size 0", kInfoSize, 0, 4},
        {"header size 12 with a long header", kInfoSize, 12, 4},
        {"header past the end", kInfoSize, 4000, 4},
        {"huge palette", kClrUsed, 0xFFFFFFFF, 4},
    };
    for (const Case& c : cases) {
        Bytes file = good;
        if (c.width == 2) put16(file, c.at, c.value);
        else put32(file, c.at, c.value);
        expect_clean(file, c.what);
    }
    EXPECT_FALSE(decode(make_bmp(0, 5, 24, kRGB, {}, {}))) << "zero width";
    EXPECT_FALSE(decode(make_bmp(5, 0, 24, kRGB, {}, {}))) << "zero height";
    Bytes wrong_magic = good;
    wrong_magic[0] = 'X';
    EXPECT_FALSE(decode(wrong_magic));
}

TEST(BmpTest, NothingOrTooLittleFailsCleanly) {
    std::string error;
    EXPECT_EQ(plat::decode_bmp(nullptr, 100, &error), nullptr);
    Bytes tiny = {'B', 'M'};
    EXPECT_EQ(plat::decode_bmp(tiny.data(), 0, &error), nullptr);
    EXPECT_FALSE(decode(tiny, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(decode(Bytes(200, 0)));
}

// Every prefix of good files: cut headers, cut palettes, cut pixel rows and cut runs.
TEST(BmpTest, TruncatedFilesFailCleanly) {
    const Bytes files[] = {make_bmp(3, 2, 24, kRGB, {}, rows24(kPicture, true)),
                           make_bmp(3, -2, 24, kRGB, {}, rows24(kPicture, false)), palette8_file(), rle8_file()};
    for (const Bytes& file : files) {
        for (size_t n = 1; n < file.size(); n++) {
            Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            expect_clean(cut, "cut to " + std::to_string(n) + " of " + std::to_string(file.size()) + " bytes");
        }
    }
    // Half the pixel rows missing: no picture from data that is not there.
    Bytes half = make_bmp(3, 2, 24, kRGB, {}, rows24(kPicture, true));
    half.resize(half.size() - 12);
    EXPECT_FALSE(decode(half));
}

TEST(BmpTest, BadRunsFailCleanly) {
    const struct {
        const char* what;
        Bytes tail;
    } cases[] = {
        {"run past the end of the row", {200, 1, 0, 1}},
        {"delta past the picture", {0, 2, 100, 100, 1, 1, 0, 1}},
        {"absolute run past the end of the data", {0, 200, 1, 2}},
        {"no end marker", {}},
        {"lines past the top", {1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 1}},
        {"escape cut short", {0}},
        {"palette index out of range in a run", {7, 250, 0, 1}},
    };
    for (const auto& c : cases) expect_clean(rle8_file(c.tail), c.what);

    // The same for 4-bit runs: two nibbles a byte.
    const Bytes rle4_runs[] = {
        {6, 0x12, 0, 0, 6, 0x34, 0, 0, 0, 1},  // good: two rows of 6
        {100, 0x12, 0, 1},                     // run past the row
        {0, 2, 50, 50, 0, 1},                  // delta past the picture
        {0, 99, 0x12},                         // absolute run past the data
        {6, 0x12},                             // no end marker
    };
    const std::vector<Colour> palette16(16, 0x00102030);
    for (const Bytes& runs : rle4_runs) expect_clean(make_bmp(6, 2, 4, kRLE4, palette16, runs), "4-bit runs");
}

TEST(BmpTest, PaletteIndexesOutOfRange) {
    // Two colours listed, indexes up to 255 used.
    Bytes px;
    for (int y = 0; y < 2; y++) px.insert(px.end(), {0, 1, 2, 255});
    expect_clean(make_bmp(4, 2, 8, kRGB, {0x000000FF, 0x0000FF00}, px), "8-bit index past the palette");
    // Without any palette at all.
    expect_clean(make_bmp(4, 2, 8, kRGB, {}, px), "8-bit without a palette");
}

// Random damage to good files, sparing the size fields so that no damage asks for a huge picture.
TEST(BmpTest, RandomDamageFailsCleanly) {
    const Bytes files[] = {make_bmp(3, 2, 24, kRGB, {}, rows24(kPicture, true)), palette8_file(), rle8_file()};
    std::mt19937 rng(4242);
    for (const Bytes& good : files) {
        for (int round = 0; round < 400; round++) {
            Bytes file = good;
            int hits = 1 + static_cast<int>(rng() % 4);
            for (int i = 0; i < hits; i++) {
                size_t at = 2 + rng() % (file.size() - 2);
                if (at >= kWidth && at < kHeight + 4) continue;
                file[at] = static_cast<uint8_t>(rng());
            }
            expect_clean(file, "damaged, round " + std::to_string(round));
        }
    }
}

class BmpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("vantor-bmp-test-" + std::to_string(static_cast<long>(::testing::UnitTest::GetInstance()->random_seed())) +
                "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

TEST_F(BmpFileTest, SaveAndLoadRoundTrip) {
    // An odd width, so that rows need padding.
    BitmapPtr original(plat::create_bitmap(5, 3));
    ASSERT_TRUE(original);
    for (size_t i = 0; i < original->pixels.size(); i++)
        original->pixels[i] = static_cast<Colour>(0x00010203u * (i + 1) + (i << 20)) & 0x00FFFFFFu;
    original->pixels[0] = 0x000000FF;
    original->pixels[14] = 0x00FF0000;
    std::string file = path("shot.bmp");
    ASSERT_TRUE(plat::save_bmp_file(original.get(), file.c_str()));

    std::ifstream in(file, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), kHeadersEnd);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(bytes[kBitCount] | bytes[kBitCount + 1] << 8, 24);
    EXPECT_EQ(bytes[kCompression], 0);
    uint32_t offset = bytes[kOffBits] | bytes[kOffBits + 1] << 8 | bytes[kOffBits + 2] << 16;
    EXPECT_EQ(bytes.size(), offset + 3u * 16u);  // three rows of 15 bytes padded to 16

    std::string error;
    BitmapPtr loaded(plat::load_bmp_file(file.c_str(), &error));
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->width, 5);
    EXPECT_EQ(loaded->height, 3);
    EXPECT_EQ(loaded->pixels, original->pixels);
}

TEST_F(BmpFileTest, FailuresAreReported) {
    std::string error;
    EXPECT_EQ(plat::load_bmp_file(path("missing.bmp").c_str(), &error), nullptr);
    EXPECT_FALSE(error.empty());

    std::string junk = path("junk.bmp");
    std::ofstream(junk, std::ios::binary) << "BM not really a picture";
    error.clear();
    EXPECT_EQ(plat::load_bmp_file(junk.c_str(), &error), nullptr);
    EXPECT_FALSE(error.empty());

    BitmapPtr b(plat::create_bitmap(2, 2));
    EXPECT_FALSE(plat::save_bmp_file(nullptr, path("null.bmp").c_str()));
    EXPECT_FALSE(plat::save_bmp_file(b.get(), path("no/such/dir/x.bmp").c_str()));
}

}  // namespace
