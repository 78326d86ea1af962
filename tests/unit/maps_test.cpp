// The map list and the check of a map pair at the start control: what is listed and how, which pairs
// are refused and with what line, and that a refusal changes nothing and keeps nothing.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "game_fixture.h"
#include "platform/bmp.h"
#include "platform/resources.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

struct BitmapDeleter {
    void operator()(plat::Bitmap* b) const { plat::delete_bitmap(b); }
};
using BitmapPtr = std::unique_ptr<plat::Bitmap, BitmapDeleter>;

// A 24-bit BMP of colour(x, y), written by hand so that the check is fed bytes, not our own writer's.
Bytes bmp24(int width, int height, const std::function<uint32_t(int, int)>& colour) {
    size_t row = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    Bytes b(54 + row * height, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < height; y++) {
        unsigned char* p = b.data() + 54 + row * (height - 1 - y);
        for (int x = 0; x < width; x++) {
            uint32_t c = colour(x, y);
            p[3 * x] = static_cast<unsigned char>(c >> 16);
            p[3 * x + 1] = static_cast<unsigned char>(c >> 8);
            p[3 * x + 2] = static_cast<unsigned char>(c);
        }
    }
    return b;
}

// Four lands above and below a band of sea, as the fixture's map; lands named in drop are left black.
uint32_t quad_colour(int x, int y, std::vector<uint32_t> drop = {}) {
    uint32_t c = SEA;
    if (y < 170) c = x < 300 ? RED : BLUE;
    if (y >= 230) c = x < 300 ? YELLOW : GREEN;
    for (uint32_t d : drop)
        if (c == d) return 0;
    return c;
}

const Bytes& plain_map() {
    static const Bytes map = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int, int) { return 0x406080u; });
    return map;
}

// decodemappair with the options given; the reason, or "" when the pair is accepted.
std::string verdict(const Bytes& map, const Bytes& tac, int players, int subs) {
    num_players = static_cast<uint8_t>(players);
    num_sub = static_cast<uint8_t>(subs);
    plat::Bitmap* shown = nullptr;
    plat::Bitmap* territory = nullptr;
    std::string why;
    bool ok = decodemappair("Test", map.data(), map.size(), tac.data(), tac.size(), &shown, &territory, &why);
    BitmapPtr keep_shown(shown), keep_territory(territory);
    EXPECT_EQ(ok, shown != nullptr);
    EXPECT_EQ(ok, territory != nullptr);
    EXPECT_EQ(ok, why.empty()) << why;
    EXPECT_LE(why.size(), sizeof title_message - 1) << why;
    return why;
}

class MapCheckTest : public ::testing::Test {
protected:
    void SetUp() override { reset_globals(); }
    void TearDown() override { reset_globals(); }
};

TEST_F(MapCheckTest, ColoursNeededDependOnThePlayersNotOnTheDeal) {
    const Bytes full = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y); });
    for (int players = 2; players <= 4; players++) {
        EXPECT_EQ(verdict(plain_map(), full, players, 3), "") << players;
        EXPECT_EQ(verdict(plain_map(), full, players, 0), "") << players;
    }
    // One land missing: any side of three or four may be dealt it; of two, each side still has one.
    const Bytes no_green = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {GREEN}); });
    EXPECT_EQ(verdict(plain_map(), no_green, 4, 3), "NO GREEN LAND ON THIS MAP");
    EXPECT_EQ(verdict(plain_map(), no_green, 3, 3), "NO GREEN LAND ON THIS MAP");
    EXPECT_EQ(verdict(plain_map(), no_green, 2, 3), "");
    const Bytes no_red = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {RED}); });
    EXPECT_EQ(verdict(plain_map(), no_red, 3, 0), "NO RED LAND ON THIS MAP");
    // Two missing: some deal leaves a side of two players with neither of its colours.
    const Bytes two_lands =
        bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {YELLOW, GREEN}); });
    EXPECT_EQ(verdict(plain_map(), two_lands, 2, 3), "TOO FEW LANDS FOR 2 PLAYERS");
    EXPECT_EQ(verdict(plain_map(), two_lands, 4, 3), "NO YELLOW LAND ON THIS MAP");
}

TEST_F(MapCheckTest, TheSeaIsNeededOnlyForSubmarines) {
    const Bytes dry = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {SEA}); });
    EXPECT_EQ(verdict(plain_map(), dry, 4, 1), "NO SEA FOR SUBMARINES");
    EXPECT_EQ(verdict(plain_map(), dry, 2, 5), "NO SEA FOR SUBMARINES");
    EXPECT_EQ(verdict(plain_map(), dry, 4, 0), "");
    // Lands are reported before the sea.
    const Bytes bare = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {SEA, BLUE}); });
    EXPECT_EQ(verdict(plain_map(), bare, 4, 3), "NO BLUE LAND ON THIS MAP");
}

// Only icon centres are sampled: x 4..584, y 4..364. A colour elsewhere is as good as missing.
TEST_F(MapCheckTest, OnlyTheSampledPixelsCount) {
    const Bytes no_green = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {GREEN}); });
    auto with_green_at = [&](int x, int y) {
        Bytes b = no_green;
        size_t at = 54 + static_cast<size_t>(MAP_HEIGHT - 1 - y) * MAP_WIDTH * 3 + static_cast<size_t>(x) * 3;
        b[at] = 0x00, b[at + 1] = 0xFF, b[at + 2] = 0x00;  // blue, green, red
        return b;
    };
    const struct {
        int x, y;
        bool sampled;
    } spots[] = {
        {4, 4, true},    {584, 364, true}, {584, 4, true},   {4, 364, true},  {3, 100, false},
        {585, 100, false}, {100, 3, false},  {100, 365, false}, {599, 399, false}, {0, 0, false},
    };
    for (const auto& s : spots)
        EXPECT_EQ(verdict(plain_map(), with_green_at(s.x, s.y), 4, 3), s.sampled ? "" : "NO GREEN LAND ON THIS MAP")
            << s.x << "," << s.y;
    // Colours compare exactly: nearly green is not green.
    const Bytes nearly = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) {
        uint32_t c = quad_colour(x, y);
        return c == GREEN ? 0x00FE00u : c;
    });
    EXPECT_EQ(verdict(plain_map(), nearly, 4, 3), "NO GREEN LAND ON THIS MAP");
}

TEST_F(MapCheckTest, BadPicturesAreNamedMapFirst) {
    const Bytes tac = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y); });
    const Bytes small = bmp24(300, 200, [](int x, int y) { return quad_colour(2 * x, 2 * y); });
    Bytes cut = tac;
    cut.resize(cut.size() / 2);
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    EXPECT_EQ(verdict({}, tac, 4, 3), "TEST.MAP IS EMPTY");
    EXPECT_EQ(verdict(plain_map(), {}, 4, 3), "TEST.TAC IS EMPTY");
    EXPECT_EQ(verdict(png, tac, 4, 3), "TEST.MAP IS NOT A BMP");
    EXPECT_EQ(verdict(cut, cut, 4, 3), "TEST.MAP IS DAMAGED");
    EXPECT_EQ(verdict(plain_map(), cut, 4, 3), "TEST.TAC IS DAMAGED");
    EXPECT_EQ(verdict(small, tac, 4, 3), "TEST.MAP IS NOT 600 X 400");
    EXPECT_EQ(verdict(plain_map(), small, 4, 3), "TEST.TAC IS NOT 600 X 400");
    // A picture of the right size but upside down (top-down rows) is still a picture.
    Bytes top_down = tac;
    int32_t h = -MAP_HEIGHT;
    std::memcpy(top_down.data() + 22, &h, 4);
    EXPECT_EQ(verdict(plain_map(), top_down, 4, 3), "");
}

// The game on the fixture's map in a directory of its own, with files added by each test.
class MapFilesTest : public vantor_test::GameTest {
protected:
    void write(const std::string& name, const Bytes& bytes) {
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void copy_quad(const std::string& map_name, const std::string& tac_name) {
        fs::copy_file(dir_ / "Quad.map", dir_ / map_name, fs::copy_options::overwrite_existing);
        fs::copy_file(dir_ / "Quad.tac", dir_ / tac_name, fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (int i = 0; i < num_maps; i++) names.emplace_back(filelist[i].letter);
        return names;
    }
    int index_of(const std::string& name) const {
        for (int i = 0; i < num_maps; i++)
            if (name == filelist[i].letter) return i;
        return -1;
    }
};

TEST_F(MapFilesTest, FilesSortedThenBuiltInMapsNotTaken) {
    // Without files of those names, the built-in maps follow Quad.
    loadmaps();
    ASSERT_GE(num_maps, 2) << "no built-in maps in this build";
    EXPECT_STREQ(filelist[0].letter, "Quad");
    EXPECT_FALSE(map_builtin[0]);
    std::string builtin = filelist[1].letter;
    EXPECT_TRUE(map_builtin[1]);

    for (const char* name : {"b.map", "A.MAP", "north.pole.map", "c.Map", "d.tac", "e.mapx", "emap", ".map"})
        write(name, {});
    // The first built-in map's name, in other letters: the file takes it.
    std::string lower = builtin;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    write(lower + ".map", {});
    fs::create_directory(dir_ / "f.map");
    loadmaps();

    std::vector<std::string> files = {"A", "Quad", "b", "c", lower, "north"};
    std::sort(files.begin() + 2, files.end());  // "b" < "c" < lower-case names, as bytes compare
    std::vector<std::string> names = listed();
    ASSERT_GE(names.size(), files.size());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 6), files);
    for (int i = 0; i < num_maps; i++) {
        EXPECT_EQ(map_builtin[i], i >= 6) << filelist[i].letter;
        if (i >= 6) {
            EXPECT_NE(strcasecmp(filelist[i].letter, builtin.c_str()), 0) << "built-in name taken twice";
        }
    }
}

TEST_F(MapFilesTest, AtMost150NamesOfAtMost49Characters) {
    for (int i = 0; i < 200; i++) {
        char name[32];
        std::snprintf(name, sizeof name, "m%03d.map", 199 - i);
        write(name, {});
    }
    loadmaps();
    ASSERT_EQ(num_maps, MAX_MAPS);
    // Quad sorts before every m, so it is in and m149 is the last one out of 200.
    EXPECT_STREQ(filelist[0].letter, "Quad");
    for (int i = 1; i < MAX_MAPS; i++) {
        char name[32];
        std::snprintf(name, sizeof name, "m%03d", i - 1);
        EXPECT_STREQ(filelist[i].letter, name);
        EXPECT_FALSE(map_builtin[i]);
    }
    for (int i = num_maps; i < MAX_MAPS; i++) EXPECT_EQ(filelist[i].letter[0], 0);
}

TEST_F(MapFilesTest, LongNamesWithDotsAndOtherBytesAreCut) {
    // 100 bytes before the first dot, some of them not ASCII: cut to 49 bytes.
    std::string long_base;
    for (int i = 0; i < 20; i++) long_base += "\xc3\xa9";  // é
    long_base += std::string(60, 'x');
    ASSERT_EQ(long_base.size(), 100u);
    write(long_base + ".v1.2.map", {});
    // A dot after 12 bytes: the name ends there.
    write("\xc3\x9cnic\xc3\xb6" "de 12.with.dots.map", {});
    loadmaps();
    // Bytes sort after ASCII: Quad, then the two.
    EXPECT_EQ(index_of("\xc3\x9cnic\xc3\xb6" "de 12"), 1);
    int cut = index_of(long_base.substr(0, 49));
    ASSERT_EQ(cut, 2);
    EXPECT_EQ(filelist[cut].letter[49], 0);

    // Starting the cut name finds no file; the reason still fits the box.
    to_title();
    cur_map = static_cast<uint8_t>(cut);
    click(380, 340);
    EXPECT_EQ(timer_mode, MODE_TITLE);
    EXPECT_STREQ(title_message, "MAP FILE MISSING");
}

// Every refusal: the line, the title screen kept, and nothing of the refused game left.
TEST_F(MapFilesTest, RefusalsChangeNothingAndKeepNothing) {
    const Bytes tac = bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y); });
    Bytes cut = tac;
    cut.resize(cut.size() - 1000);
    const struct {
        const char* name;
        std::function<void()> make;
        const char* line;
    } cases[] = {
        {"Gone", [&] { write("Gone.x.map", plain_map()); write("Gone.tac", tac); }, "GONE.MAP MISSING"},
        {"Lone", [&] { write("Lone.map", plain_map()); }, "LONE.TAC MISSING"},
        {"Dir", [&] { write("Dir.x.map", plain_map()); fs::create_directory(dir_ / "Dir.map"); write("Dir.tac", tac); },
         "DIR.MAP IS A FOLDER"},
        {"Pipe", [&] { write("Pipe.map", plain_map()); ASSERT_EQ(mkfifo((dir_ / "Pipe.tac").c_str(), 0600), 0); },
         "PIPE.TAC CANNOT BE READ"},
        {"Empty", [&] { write("Empty.map", {}); write("Empty.tac", tac); }, "EMPTY.MAP IS EMPTY"},
        {"Cut", [&] { write("Cut.map", plain_map()); write("Cut.tac", cut); }, "CUT.TAC IS DAMAGED"},
        {"Huge", [&] { write("Huge.map", Bytes(5 * 1024 * 1024, 'B')); write("Huge.tac", tac); }, "HUGE.MAP IS TOO LARGE"},
        {"Dry",
         [&] {
             write("Dry.map", plain_map());
             write("Dry.tac", bmp24(MAP_WIDTH, MAP_HEIGHT, [](int x, int y) { return quad_colour(x, y, {SEA}); }));
         },
         "NO SEA FOR SUBMARINES"},
    };
    for (const auto& c : cases) c.make();
    loadmaps();
    to_title();
    // A finished game before: its tables stay as they were too.
    for (weapon& w : item) w.flag = CITY;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int index = index_of(c.name);
        ASSERT_GE(index, 0);
        cur_map = static_cast<uint8_t>(index);
        const std::vector<std::string> list = listed();
        const uint16_t seed_before = seed;
        const uint32_t cols_before[4] = {startcols[0], startcols[1], startcols[2], startcols[3]};
        click(380, 340);
        EXPECT_EQ(timer_mode, MODE_TITLE);
        EXPECT_STREQ(title_message, c.line);
        EXPECT_EQ(hMainmap, nullptr);
        EXPECT_EQ(hTacticalmap, nullptr);
        EXPECT_EQ(FullDC, nullptr);
        EXPECT_EQ(hFullimage, nullptr);
        EXPECT_EQ(TactDC->bitmap, nullptr);
        EXPECT_EQ(seed, seed_before) << "a refused game draws nothing";
        for (int i = 0; i < 4; i++) EXPECT_EQ(startcols[i], cols_before[i]);
        for (const weapon& w : item) ASSERT_EQ(w.flag, CITY);
        EXPECT_EQ(listed(), list);
        EXPECT_EQ(cur_map, index);
        EXPECT_EQ(num_players, 4);
        EXPECT_EQ(num_city, 15);
        EXPECT_EQ(num_silo, 6);
        EXPECT_EQ(num_sub, 3);
        EXPECT_EQ(num_factory, 3);
        // Until the next click, wherever it falls.
        paint();
        EXPECT_STREQ(title_message, c.line);
        click(5, 5);
        EXPECT_STREQ(title_message, "");
    }
}

TEST_F(MapFilesTest, FileNamesMatchInAnyCase) {
    copy_quad("EUROPE.MAP", "europe.Tac");
    loadmaps();
    ASSERT_EQ(index_of("EUROPE"), 0);
    to_title();
    cur_map = 0;
    click(380, 340);
    EXPECT_EQ(timer_mode, MODE_PLACING) << title_message;
}

TEST_F(MapFilesTest, BuiltInMapsLoadFromTheProgram) {
    fs::remove(dir_ / "Quad.map");
    fs::remove(dir_ / "Quad.tac");
    loadmaps();
    ASSERT_GE(num_maps, 1);
    ASSERT_TRUE(map_builtin[0]);
    std::string name = filelist[0].letter;
    to_title();
    click(380, 340);
    ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
    const plat::Resource* res = plat::find_resource("MAP", (name + ".map").c_str());
    ASSERT_NE(res, nullptr);
    BitmapPtr expected(plat::decode_bmp(res->data, res->size));
    ASSERT_TRUE(expected);
    EXPECT_EQ(hMainmap->pixels, expected->pixels);
    EXPECT_EQ(hFullimage->pixels, expected->pixels);
}

// A pair is read afresh at each start: a file changed between games is seen.
TEST_F(MapFilesTest, EachStartReadsThePairAgain) {
    start_game();
    uint32_t first = hMainmap->pixels[0];
    // End the game as the game over does, then repaint Quad.map.
    releasemap();
    starttitle();
    write("Quad.map", bmp24(MAP_WIDTH, MAP_HEIGHT, [](int, int) { return 0x123456u; }));
    click(380, 340);
    ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
    EXPECT_NE(hMainmap->pixels[0], first);
    EXPECT_EQ(hMainmap->pixels[0], 0x123456u);
    EXPECT_EQ(window_pixel(0, 0), 0x123456u);
}

}  // namespace
