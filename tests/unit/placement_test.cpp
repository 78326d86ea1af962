// Unit placement on the fixture's quadrant map: the tick-by-tick order, the unit records, the lands
// each side gets, the pictures, and a replay of every random draw by a generator of the test's own.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "game_fixture.h"
#include "platform/bmp.h"

namespace vantor_test {
namespace {

// The fixture's territory map (write_quad_map): red and blue above the sea band, yellow and green below.
uint32_t quad_tac(int x, int y) {
    if (y < 170) return x < 300 ? RED : BLUE;
    if (y >= 230) return x < 300 ? YELLOW : GREEN;
    return SEA;
}

struct Placed {
    uint8_t flag = 0, side = 0;
    uint16_t x = 0, y = 0;
    uint8_t fact1 = NO_SLOT, fact2 = NO_SLOT;
    bool supplied = false;
};

struct Outcome {
    uint32_t startcols[4] = {};
    Placed units[NUM_UNITS];
    uint8_t first_side = 0;
    uint16_t seed = 0;
    int ticks = 0;  // ticks of placement, without the one that starts play
};

// The game's rules for the draws, written out again: the generator, the deal of the colours, a unit
// per side per tick drawing x then y until its centre is on one of its colours, the capitals and the
// first side.
Outcome replay(uint16_t seed, int players, int cities, int silos, int subs, int factories) {
    auto rnd = [&seed](uint32_t value) -> uint32_t {
        seed = static_cast<uint16_t>(seed * 9377u + 9439u);
        return value == 0 ? 0 : seed % (value + 1);
    };
    const uint32_t colours[4] = {RED, BLUE, YELLOW, GREEN};
    Outcome out;
    bool taken[4] = {};
    for (uint32_t& c : out.startcols) {
        uint32_t t;
        do t = rnd(3);
        while (taken[t]);
        taken[t] = true;
        c = colours[t];
    }
    const int counts[5] = {0, cities, silos, subs, factories};
    for (uint8_t type = CITY; type <= FACTORY; type++) {
        for (int n = 0; n < counts[type]; n++, out.ticks++) {
            for (int b = 0; b < players; b++) {
                int slot = b * 40;
                while (out.units[slot].flag) slot++;
                uint32_t c1 = type == SUB ? SEA : out.startcols[b];
                uint32_t c2 = type == SUB ? SEA : out.startcols[players <= 2 ? b + 2 : b];
                Placed& u = out.units[slot];
                do {
                    u.x = static_cast<uint16_t>(rnd(580));
                    u.y = static_cast<uint16_t>(rnd(360));
                } while (quad_tac(u.x + 4, u.y + 4) != c1 && quad_tac(u.x + 4, u.y + 4) != c2);
                u.flag = type;
                u.side = static_cast<uint8_t>(b);
                if (type != FACTORY) continue;
                for (int j = b * 40; j < b * 40 + 40; j++) {
                    Placed& s = out.units[j];
                    if (s.flag == SILO && !s.supplied && u.fact1 == NO_SLOT) s.supplied = true, u.fact1 = static_cast<uint8_t>(j);
                    if (s.flag == SILO && !s.supplied && u.fact2 == NO_SLOT) s.supplied = true, u.fact2 = static_cast<uint8_t>(j);
                }
            }
        }
    }
    for (int b = 0; b < players; b++) {
        for (;;) {
            uint32_t r = rnd(160);
            if (r < NUM_UNITS && out.units[r].flag == CITY && out.units[r].side == b) {
                out.units[r].supplied = true;
                break;
            }
        }
    }
    out.first_side = static_cast<uint8_t>(rnd(static_cast<uint32_t>(players - 1)));
    out.seed = seed;
    return out;
}

class PlacementTest : public GameTest {
protected:
    // From the intro to the first tick of placement with these options and seed.
    void start(int players, int cities, int silos, int subs, uint16_t start_seed) {
        to_title();
        num_players = static_cast<uint8_t>(players);
        num_city = static_cast<uint8_t>(cities);
        num_silo = static_cast<uint8_t>(silos);
        num_factory = static_cast<uint8_t>(silos / 2);
        num_sub = static_cast<uint8_t>(subs);
        seed = start_seed;
        click(380, 340);
        ASSERT_EQ(timer_mode, MODE_PLACING) << title_message;
    }
    int units_of(int side) const {
        int n = 0;
        for (const weapon& w : item) n += w.flag != EMPTY && w.side == side;
        return n;
    }
    uint32_t second_colour(int b) const { return startcols[num_players <= 2 ? b + 2 : b]; }
};

TEST_F(PlacementTest, OneUnitPerSideEachTickCitiesSilosSubmarinesFactories) {
    for (weapon& w : item) w.flag = CITY;  // a finished game's units
    for (icbm& s : shot) s.flag = 1;
    start(4, 15, 6, 3, 1);
    for (const weapon& w : item) ASSERT_EQ(w.flag, EMPTY);
    for (const icbm& s : shot) ASSERT_EQ(s.flag, 0);
    for (int t = 1; t <= 27; t++) {
        tick();
        ASSERT_EQ(timer_mode, MODE_PLACING) << "tick " << t;
        uint8_t type = t <= 15 ? CITY : t <= 21 ? SILO : t <= 24 ? SUB : FACTORY;
        for (int b = 0; b < 4; b++) {
            ASSERT_EQ(units_of(b), t) << "tick " << t << " side " << b;
            EXPECT_EQ(item[b * 40 + t - 1].flag, type) << "tick " << t << " side " << b;
            EXPECT_EQ(item[b * 40 + t - 1].side, b);
        }
        // Each new icon went onto the window at once, and onto the clean picture in the same tick.
        if (t % 9 != 1) continue;
        for (int y = 0; y < MAP_HEIGHT; y++)
            for (int x = 0; x < MAP_WIDTH; x++)
                ASSERT_EQ(window_pixel(x, y), plat::get_pixel(FullDC, x, y)) << x << "," << y << " tick " << t;
    }
    tick();
    EXPECT_EQ(timer_mode, MODE_PLAYING);
    for (int b = 0; b < 4; b++) EXPECT_EQ(units_of(b), 27);
}

TEST_F(PlacementTest, EveryCountAtItsMaximumFillsAllFortySlots) {
    start(4, MAX_CITY, MAX_SILO, MAX_SUB, 3);
    tick(40);
    EXPECT_EQ(timer_mode, MODE_PLACING);
    tick();
    ASSERT_EQ(timer_mode, MODE_PLAYING);
    for (int i = 0; i < NUM_UNITS; i++) {
        int p = i % 40;
        uint8_t type = p < 20 ? CITY : p < 30 ? SILO : p < 35 ? SUB : FACTORY;
        EXPECT_EQ(item[i].flag, type) << i;
        EXPECT_EQ(item[i].side, i / 40) << i;
        // Factory k of a side holds the side's silos 2k and 2k+1, in slot order.
        if (type == FACTORY) {
            EXPECT_EQ(item[i].fact1, i - p + 20 + 2 * (p - 35)) << i;
            EXPECT_EQ(item[i].fact2, i - p + 21 + 2 * (p - 35)) << i;
        }
    }
}

// What every placed unit holds, for the defaults, full sides, two players and no silos.
TEST_F(PlacementTest, UnitRecords) {
    const struct {
        int players, cities, silos, subs;
        uint16_t seed;
    } games[] = {{4, 15, 6, 3, 1}, {4, 20, 10, 5, 9}, {2, 15, 6, 3, 500}, {3, 1, 0, 2, 65535}};
    for (const auto& g : games) {
        SCOPED_TRACE("seed " + std::to_string(g.seed));
        start(g.players, g.cities, g.silos, g.subs, g.seed);
        run_until(MODE_PLAYING, 100);
        int capitals[4] = {}, claims[NUM_UNITS] = {};
        for (int i = 0; i < NUM_UNITS; i++) {
            const weapon& w = item[i];
            if (w.flag == EMPTY) continue;
            ASSERT_LT(w.side, g.players);
            EXPECT_EQ(w.side, i / 40);
            EXPECT_LE(w.x, 580);
            EXPECT_LE(w.y, 360);
            EXPECT_FALSE(w.greynow);
            EXPECT_EQ(w.old_power, 0);
            EXPECT_EQ(w.old_bearing, 0);
            EXPECT_EQ(w.name[16], 0);
            EXPECT_EQ(std::strlen(w.name), 16u);
            if (w.flag == CITY) {
                EXPECT_EQ(w.ammo, 2);
                capitals[w.side] += w.supplied;
            }
            if (w.flag == SILO) {
                EXPECT_TRUE(w.supplied) << i;
            }
            if (w.flag == SILO || w.flag == SUB) {
                EXPECT_EQ(w.ammo, 3);
            }
            if (w.flag == SUB || w.flag == FACTORY) {
                EXPECT_FALSE(w.supplied) << i;
            }
            if (w.flag != FACTORY) {
                EXPECT_EQ(w.fact1, NO_SLOT);
                EXPECT_EQ(w.fact2, NO_SLOT);
                continue;
            }
            ASSERT_NE(w.fact1, NO_SLOT);
            ASSERT_NE(w.fact2, NO_SLOT);
            EXPECT_NE(w.fact1, w.fact2);
            for (uint8_t s : {w.fact1, w.fact2}) {
                EXPECT_EQ(item[s].flag, SILO);
                EXPECT_EQ(item[s].side, w.side);
                claims[s]++;
            }
        }
        for (int i = 0; i < NUM_UNITS; i++) {
            if (item[i].flag == SILO) {
                EXPECT_EQ(claims[i], 1) << "silo " << i << " claimed once";
            }
        }
        for (int b = 0; b < 4; b++) {
            EXPECT_EQ(capitals[b], b < g.players ? 1 : 0) << "side " << b;
            EXPECT_EQ(alive[b], b < g.players);
            EXPECT_EQ(units_of(b), b < g.players ? g.cities + g.silos + g.subs + g.silos / 2 : 0);
        }
        releasemap();
        starttitle();
    }
}

TEST_F(PlacementTest, NamesRunOnFromEachTypesFirstSlot) {
    start(4, 15, 6, 3, 1);
    run_until(MODE_PLAYING, 100);
    const char* const side2[27] = {
        "Rio de Janeiro", "Cape Town", "Buenos Aires", "Cairo", "Santiago", "Israel", "Pretoria",
        "Douala", "Sao Paulo", "Lima", "Lagos", "Baghdad", "Montevideo", "Caracas", "Bogota",
        "Mensa Silo", "Musca Silo", "Octans Silo", "Pagasus Silo", "Pyxis Silo", "Andromeda Silo",
        "USN Arachnid", "USN Daedalus", "USN Rain Forest",
        "Central Factory", "Northern Factory", "Southern Factory",
    };
    for (int i = 0; i < 27; i++) {
        char padded[17];
        std::snprintf(padded, sizeof padded, "%-16s", side2[i]);
        EXPECT_EQ(std::memcmp(item[80 + i].name, padded, 17), 0) << i << ": \"" << item[80 + i].name << "\"";
    }
}

TEST_F(PlacementTest, UnitsStandOnTheirOwnLands) {
    for (int players = 2; players <= 4; players++) {
        for (uint16_t s : {11, 2024, 40000}) {
            SCOPED_TRACE(std::to_string(players) + " players, seed " + std::to_string(s));
            start(players, 15, 6, 3, s);
            run_until(MODE_PLAYING, 100);
            int on[4][4] = {};  // units of side b on the land of startcols[k]
            for (const weapon& w : item) {
                if (w.flag == EMPTY) continue;
                uint32_t c = quad_tac(w.x + 4, w.y + 4);
                if (w.flag == SUB) {
                    EXPECT_EQ(c, SEA);
                    continue;
                }
                EXPECT_TRUE(c == startcols[w.side] || c == second_colour(w.side)) << std::hex << c;
                for (int k = 0; k < 4; k++) on[w.side][k] += c == startcols[k];
            }
            for (int b = 0; b < players; b++) {
                EXPECT_GT(on[b][b], 0) << "side " << b;
                // With two players a side owns two lands, and 24 units fall in both.
                if (players == 2) {
                    EXPECT_GT(on[b][b + 2], 0) << "side " << b;
                }
            }
            // With three, the land dealt to the absent side stays empty.
            if (players == 3) {
                for (int b = 0; b < 3; b++) EXPECT_EQ(on[b][3], 0);
            }
            releasemap();
            starttitle();
        }
    }
}

TEST_F(PlacementTest, EveryDrawIsReplayedExactly) {
    const struct {
        int players, cities, silos, subs;
        uint16_t seed;
    } games[] = {{4, 15, 6, 3, 1}, {4, 15, 6, 3, 7}, {2, 20, 10, 5, 65535}, {3, 3, 2, 0, 4660}, {2, 1, 2, 1, 0}};
    for (const auto& g : games) {
        SCOPED_TRACE("seed " + std::to_string(g.seed));
        Outcome want = replay(g.seed, g.players, g.cities, g.silos, g.subs, g.silos / 2);
        start(g.players, g.cities, g.silos, g.subs, g.seed);
        for (int i = 0; i < 4; i++) EXPECT_EQ(startcols[i], want.startcols[i]) << i;
        tick(want.ticks);
        EXPECT_EQ(timer_mode, MODE_PLACING);
        tick();
        ASSERT_EQ(timer_mode, MODE_PLAYING);
        for (int i = 0; i < NUM_UNITS; i++) {
            const Placed& p = want.units[i];
            const weapon& w = item[i];
            ASSERT_EQ(w.flag, p.flag) << "slot " << i;
            if (!p.flag) continue;
            EXPECT_EQ(w.side, p.side) << "slot " << i;
            EXPECT_EQ(w.x, p.x) << "slot " << i;
            EXPECT_EQ(w.y, p.y) << "slot " << i;
            EXPECT_EQ(w.supplied, p.supplied) << "slot " << i;
            EXPECT_EQ(w.fact1, p.fact1) << "slot " << i;
            EXPECT_EQ(w.fact2, p.fact2) << "slot " << i;
        }
        EXPECT_EQ(cur_player, want.first_side);
        EXPECT_EQ(seed, want.seed);
        releasemap();
        starttitle();
    }
}

// The clean picture is the map with every icon OR-ed on; updateback rebuilds it after a loss.
TEST_F(PlacementTest, TheCleanPictureIsTheMapWithEveryIcon) {
    struct Deleter {
        void operator()(plat::Bitmap* b) const { plat::delete_bitmap(b); }
    };
    std::unique_ptr<plat::Bitmap, Deleter> map(plat::load_bmp_file("Quad.map"));
    ASSERT_TRUE(map);
    ASSERT_TRUE(hPanelgfx);
    auto expect_picture = [&](const char* when) {
        std::vector<plat::Colour> want = map->pixels;
        for (const weapon& w : item) {
            if (w.flag == EMPTY) continue;
            for (int dy = 0; dy < 9; dy++)
                for (int dx = 0; dx < 9; dx++)
                    want[(w.y + dy) * MAP_WIDTH + w.x + dx] |=
                        hPanelgfx->pixels[(w.side * 10 + dy) * hPanelgfx->width + (w.flag - 1) * 10 + dx];
        }
        for (int y = 0; y < MAP_HEIGHT; y++)
            for (int x = 0; x < MAP_WIDTH; x++)
                ASSERT_EQ(plat::get_pixel(FullDC, x, y), want[y * MAP_WIDTH + x]) << x << "," << y << " " << when;
    };
    start(4, 20, 10, 5, 5);
    run_until(MODE_PLAYING, 100);
    expect_picture("after placement");
    // Play begins with the window showing the clean picture (the cursor may blink later).
    for (int y = 0; y < MAP_HEIGHT; y += 3)
        for (int x = 0; x < MAP_WIDTH; x += 3) ASSERT_EQ(window_pixel(x, y), plat::get_pixel(FullDC, x, y));
    item[3].flag = EMPTY;
    item[45].side = GREY;
    item[120].flag = EMPTY;
    updateback();
    expect_picture("after updateback");
}

TEST_F(PlacementTest, PhasesWithoutUnitsAreSkipped) {
    start(4, 15, 0, 3, 8);
    tick(18);
    EXPECT_EQ(timer_mode, MODE_PLACING);
    tick();
    EXPECT_EQ(timer_mode, MODE_PLAYING);
    for (const weapon& w : item) EXPECT_TRUE(w.flag == EMPTY || w.flag == CITY || w.flag == SUB);
    releasemap();
    starttitle();
    start(2, 4, 2, 0, 8);
    tick(7);
    EXPECT_EQ(timer_mode, MODE_PLACING);
    tick();
    EXPECT_EQ(timer_mode, MODE_PLAYING);
    for (const weapon& w : item) EXPECT_NE(w.flag, SUB);
}

}  // namespace
}  // namespace vantor_test
