// The embedded resources: the four bitmaps and the seven sounds in their binding sizes and formats,
// found by name in any case, the built-in map pairs with only the colours placement knows, and the
// pages of a decoded resource handed back without losing a byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "asset_bytes.h"
#include "model/equates.h"
#include "platform/bmp.h"
#include "platform/resources.h"

namespace vantor_test {
namespace {

struct BitmapDeleter {
    void operator()(plat::Bitmap* b) const { plat::delete_bitmap(b); }
};
using BitmapPtr = std::unique_ptr<plat::Bitmap, BitmapDeleter>;

struct ExpectedBitmap {
    const char* name;
    int width, height, bits;
};

const ExpectedBitmap kBitmaps[] = {
    {"PanelGFX", 100, 450, 24},
    {"PanelImage", 600, 60, 24},
    {"Fontgfx", 280, 16, 8},
    {"Titlegfx", 600, 400, 24},
};

TEST(ResourceTest, BitmapsHaveTheirSizeAndFormat) {
    for (const ExpectedBitmap& want : kBitmaps) {
        SCOPED_TRACE(want.name);
        const plat::Resource* res = plat::find_resource("BITMAP", want.name);
        ASSERT_NE(res, nullptr);
        std::string why;
        auto bmp = parse_bmp(res->data, res->size, &why);
        ASSERT_TRUE(bmp) << why;
        EXPECT_EQ(bmp->file_size, res->size);
        EXPECT_EQ(bmp->width, want.width);
        EXPECT_EQ(std::abs(bmp->height), want.height);
        EXPECT_EQ(bmp->planes, 1u);
        EXPECT_EQ(bmp->bit_count, static_cast<uint32_t>(want.bits));
        // And the game's own loader reads the same picture.
        BitmapPtr loaded(plat::decode_bmp(res->data, res->size, &why));
        ASSERT_TRUE(loaded) << why;
        EXPECT_EQ(loaded->width, want.width);
        EXPECT_EQ(loaded->height, want.height);
        EXPECT_EQ(loaded->pixels, bmp->pixels);
    }
}

TEST(ResourceTest, FontPaletteIsBlackWhiteAndTwoGreys) {
    const plat::Resource* res = plat::find_resource("BITMAP", "Fontgfx");
    ASSERT_NE(res, nullptr);
    std::string why;
    auto font = parse_bmp(res->data, res->size, &why);
    ASSERT_TRUE(font) << why;
    std::set<uint32_t> used(font->pixels.begin(), font->pixels.end());
    std::set<uint32_t> greys;
    for (uint32_t c : used) {
        uint32_t r = c & 0xFF, g = c >> 8 & 0xFF, b = c >> 16 & 0xFF;
        EXPECT_TRUE(r == g && g == b) << std::hex << c << " is not black, white or grey";
        if (c != 0 && c != 0xFFFFFF) greys.insert(c);
    }
    EXPECT_TRUE(used.count(0));
    EXPECT_TRUE(used.count(0xFFFFFF));
    EXPECT_EQ(greys.size(), 2u);
    EXPECT_LE(font->palette.size(), 256u);
}

// Glyph 0 is the blank; the other 39 are drawn, and no two alike.
TEST(ResourceTest, FontHasFortyGlyphsWithABlankFirst) {
    const plat::Resource* res = plat::find_resource("BITMAP", "Fontgfx");
    ASSERT_NE(res, nullptr);
    std::string why;
    auto font = parse_bmp(res->data, res->size, &why);
    ASSERT_TRUE(font) << why;
    std::set<std::vector<uint32_t>> seen;
    for (int g = 0; g < 40; g++) {
        std::vector<uint32_t> cell;
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 7; x++) cell.push_back(font->at(7 * g + x, y));
        bool blank = std::all_of(cell.begin(), cell.end(), [](uint32_t c) { return c == 0; });
        EXPECT_EQ(blank, g == 0) << "glyph " << g;
        EXPECT_TRUE(seen.insert(cell).second) << "glyph " << g << " repeats an earlier one";
    }
}

struct ExpectedSound {
    const char* name;
    double seconds;
};

const ExpectedSound kSounds[] = {
    {"SFXAppearing", 6.1}, {"SFXMissilelaunch", 2.3}, {"SFXBoom", 2.1},  {"SFXHit", 1.0},
    {"SFXGreyout", 0.3},   {"SFXCursor", 0.7},        {"SFXClick", 0.2},
};

TEST(ResourceTest, SoundsArePcmMono8Bit32kHzOfTheirDurations) {
    for (const ExpectedSound& want : kSounds) {
        SCOPED_TRACE(want.name);
        const plat::Resource* res = plat::find_resource("WAVE", want.name);
        ASSERT_NE(res, nullptr);
        std::string why;
        auto wav = parse_wav(res->data, res->size, &why);
        ASSERT_TRUE(wav) << why;
        EXPECT_EQ(wav->riff_size + 8, res->size);
        EXPECT_EQ(wav->format, 1u);  // PCM
        EXPECT_EQ(wav->channels, 1u);
        EXPECT_EQ(wav->bits, 8u);
        EXPECT_EQ(wav->rate, 32000u);
        EXPECT_EQ(wav->byte_rate, 32000u);
        EXPECT_EQ(wav->block_align, 1u);
        EXPECT_NEAR(static_cast<double>(wav->data_size) / 32000.0, want.seconds, 0.05);
    }
}

TEST(ResourceTest, FoundByNameInAnyCase) {
    const plat::Resource* boom = plat::find_resource("WAVE", "SFXBoom");
    ASSERT_NE(boom, nullptr);
    EXPECT_EQ(plat::find_resource("wave", "sfxboom"), boom);
    EXPECT_EQ(plat::find_resource("Wave", "SFXBOOM"), boom);
    const plat::Resource* font = plat::find_resource("BITMAP", "Fontgfx");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(plat::find_resource("bitmap", "FONTGFX"), font);
    EXPECT_EQ(plat::find_resource("WAVE", "Fontgfx"), nullptr) << "a bitmap is not a sound";
    EXPECT_EQ(plat::find_resource("WAVE", "SFXBoo"), nullptr);
    EXPECT_EQ(plat::find_resource("WAVE", "SFXBoomX"), nullptr);
}

// The built-in map pairs, as base name -> (picture, territories).
std::map<std::string, std::pair<const plat::Resource*, const plat::Resource*>> builtin_maps() {
    std::map<std::string, std::pair<const plat::Resource*, const plat::Resource*>> maps;
    size_t count = 0;
    const plat::Resource* table = plat::resource_table(&count);
    for (size_t i = 0; i < count; i++) {
        std::string name = table[i].name;
        if (std::string(table[i].type) != "MAP" || name.size() < 5) continue;
        std::string base = name.substr(0, name.size() - 4), ext = name.substr(name.size() - 4);
        if (ext == ".map") maps[base].first = &table[i];
        if (ext == ".tac") maps[base].second = &table[i];
    }
    return maps;
}

TEST(ResourceTest, BuiltInMapsComeInPairsOf600By400) {
    auto maps = builtin_maps();
    EXPECT_GE(maps.size(), 2u);
    for (const auto& [base, pair] : maps) {
        SCOPED_TRACE(base);
        ASSERT_NE(pair.first, nullptr) << "no picture";
        ASSERT_NE(pair.second, nullptr) << "no territories";
        for (const plat::Resource* res : {pair.first, pair.second}) {
            std::string why;
            BitmapPtr bitmap(plat::decode_bmp(res->data, res->size, &why));
            ASSERT_TRUE(bitmap) << why;
            EXPECT_EQ(bitmap->width, MAP_WIDTH);
            EXPECT_EQ(bitmap->height, MAP_HEIGHT);
        }
    }
}

// Placement samples icon centres in x 4..584, y 4..364 and looks for the exact pure colours; other
// colours are land or lakes that nobody may use.
TEST(ResourceTest, BuiltInTerritoriesUseOnlyAllowedColours) {
    const uint32_t pure[] = {RED, BLUE, YELLOW, GREEN, SEA};
    for (const auto& [base, pair] : builtin_maps()) {
        SCOPED_TRACE(base);
        if (!pair.second) continue;
        std::string why;
        BitmapPtr tac(plat::decode_bmp(pair.second->data, pair.second->size, &why));
        ASSERT_TRUE(tac) << why;
        ASSERT_EQ(tac->width, MAP_WIDTH);
        ASSERT_EQ(tac->height, MAP_HEIGHT);
        std::set<uint32_t> neutral;
        std::map<uint32_t, int> sampled;
        for (int y = 0; y < MAP_HEIGHT; y++) {
            for (int x = 0; x < MAP_WIDTH; x++) {
                uint32_t c = tac->pixels[static_cast<size_t>(y) * MAP_WIDTH + x];
                if (std::find(std::begin(pure), std::end(pure), c) == std::end(pure)) neutral.insert(c);
                if (x >= 4 && x <= 584 && y >= 4 && y <= 364) sampled[c]++;
            }
        }
        EXPECT_LE(neutral.size(), 2u) << "more than two neutral colours";
        int least = MAP_WIDTH * MAP_HEIGHT, most = 0;
        for (uint32_t c : pure) {
            EXPECT_GT(sampled[c], 0) << std::hex << "colour " << c << " missing where placement looks";
            if (c == SEA) continue;
            least = std::min(least, sampled[c]);
            most = std::max(most, sampled[c]);
        }
        // Comparable territories: none far smaller than the largest.
        EXPECT_GE(least * 4, most * 3) << "territories from " << least << " to " << most << " pixels";
    }
}

// Whether the page holding p is in this process's memory, from /proc/self/pagemap (bit 63).
bool resident(const void* p) {
    int fd = open("/proc/self/pagemap", O_RDONLY);
    if (fd < 0) return false;
    auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uint64_t entry = 0;
    off_t at = static_cast<off_t>(reinterpret_cast<uintptr_t>(p) / page * sizeof entry);
    bool got = pread(fd, &entry, sizeof entry, at) == static_cast<ssize_t>(sizeof entry);
    close(fd);
    return got && (entry >> 63) != 0;
}

TEST(ResourceTest, ReleasedPagesLeaveMemoryAndReadBackTheSame) {
    const plat::Resource* res = plat::find_resource("MAP", "World.map");
    ASSERT_NE(res, nullptr);
    std::vector<unsigned char> copy(res->data, res->data + res->size);
    const unsigned char* middle = res->data + res->size / 2;
    ASSERT_TRUE(resident(middle));  // read just now, for the copy
    plat::release_resource_pages(res->data, res->size);
    EXPECT_FALSE(resident(middle)) << "the pages of the decoded resource stayed in memory";
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), res->data)) << "the bytes read back differ";
    EXPECT_TRUE(resident(middle));
}

TEST(ResourceTest, ReleaseLeavesOtherMemoryAlone) {
    // Heap memory handed back the same way would read as zeros.
    std::vector<unsigned char> heap(64 * 1024, 0xAB);
    plat::release_resource_pages(heap.data(), heap.size());
    EXPECT_TRUE(std::all_of(heap.begin(), heap.end(), [](unsigned char b) { return b == 0xAB; }));
    // A range that runs past the end of a resource is not its own either.
    const plat::Resource* res = plat::find_resource("MAP", "World.tac");
    ASSERT_NE(res, nullptr);
    std::vector<unsigned char> copy(res->data, res->data + res->size);
    plat::release_resource_pages(res->data, res->size + 1);
    EXPECT_TRUE(resident(res->data + res->size / 2));
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), res->data));
}

}  // namespace
}  // namespace vantor_test
