// The motion stepper: worked paths, degenerate lines, translation mid-flight, and arrival after
// exactly as many moves as the longest axis over many random tracks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include "model/motion.h"

namespace {

using Point = std::array<int, 3>;

Point where(const motion& m) { return {m.curx, m.cury, m.curz}; }

motion start3(int x1, int y1, int z1, int x2, int y2, int z2) {
    motion m{};
    m.init_motion(static_cast<uint16_t>(x1), static_cast<uint16_t>(y1), static_cast<uint16_t>(z1),
                  static_cast<uint16_t>(x2), static_cast<uint16_t>(y2), static_cast<uint16_t>(z2));
    return m;
}

// The points after each of n moves.
std::vector<Point> walk(motion m, int n) {
    std::vector<Point> path;
    for (int i = 0; i < n; i++) {
        m.move_one_square();
        path.push_back(where(m));
    }
    return path;
}

TEST(MotionTest, WorkedExampleThreeAxes) {
    motion m = start3(0, 0, 0, 5, 2, 1);
    const Point expected[] = {{1, 0, 0}, {2, 0, 0}, {3, 1, 0}, {4, 1, 0}, {5, 2, 1}};
    // Whether the medium axis steps on the coming move, read from the counters.
    const uint8_t diagonal_before[] = {0, 0, 1, 0, 1};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(m.at_destination(), 0) << "before move " << i + 1;
        EXPECT_EQ(m.next_diagonal(), diagonal_before[i]) << "before move " << i + 1;
        m.move_one_square();
        EXPECT_EQ(where(m), expected[i]) << "after move " << i + 1;
    }
    EXPECT_EQ(m.at_destination(), 1);
    EXPECT_EQ(m.destx, 5);
    EXPECT_EQ(m.desty, 2);
    // The stepper does not stop by itself.
    m.move_one_square();
    EXPECT_EQ(where(m), (Point{6, 2, 1}));
    EXPECT_EQ(m.at_destination(), 0);
}

TEST(MotionTest, WorkedExampleTwoAxes) {
    motion m{};
    m.init_motion(10, 10, 7, 14);
    EXPECT_EQ(where(m), (Point{10, 10, 0}));
    const Point expected[] = {{10, 11, 0}, {9, 12, 0}, {8, 13, 0}, {7, 14, 0}};
    for (const Point& p : expected) {
        EXPECT_EQ(m.at_destination(), 0);
        m.move_one_square();
        EXPECT_EQ(where(m), p);
    }
    EXPECT_EQ(m.at_destination(), 1);
}

TEST(MotionTest, TwoAxesLeavesNoTraceOfAnEarlierTrack) {
    motion m = start3(0, 0, 0, 9, 4, 7);  // a three-axis track first, so every field is non-zero
    m.move_one_square();
    m.init_motion(3, 3, 6, 1);
    const Point expected[] = {{4, 3, 0}, {5, 2, 0}, {6, 1, 0}};
    EXPECT_EQ(walk(m, 3), std::vector<Point>(std::begin(expected), std::end(expected)));
    m = start3(0, 0, 0, 9, 4, 7);
    m.init_motion(3, 3, 6, 1);
    for (int i = 0; i < 3; i++) m.move_one_square();
    EXPECT_EQ(m.at_destination(), 1);
}

TEST(MotionTest, EqualDifferencesMakeAPerfectDiagonal) {
    motion m = start3(0, 0, 0, 3, 3, 3);
    const Point expected[] = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    EXPECT_EQ(walk(m, 3), std::vector<Point>(std::begin(expected), std::end(expected)));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(m.next_diagonal(), 1);
        m.move_one_square();
    }
    EXPECT_EQ(m.at_destination(), 1);
}

TEST(MotionTest, StartAtDestination) {
    motion m = start3(1200, 300, 62, 1200, 300, 62);
    EXPECT_EQ(m.at_destination(), 1);
    m.move_one_square();
    EXPECT_EQ(where(m), (Point{1200, 300, 62}));
    EXPECT_EQ(m.at_destination(), 1);

    motion flat{};
    flat.init_motion(40, 50, 40, 50);
    EXPECT_EQ(flat.at_destination(), 1);
    flat.move_one_square();
    EXPECT_EQ(where(flat), (Point{40, 50, 0}));
}

TEST(MotionTest, SingleAxisStepsAlone) {
    const struct {
        Point from, to, step;
    } cases[] = {
        {{0, 5, 9}, {4, 5, 9}, {1, 0, 0}},
        {{7, 5, 9}, {7, 1, 9}, {0, -1, 0}},
        {{7, 5, 0}, {7, 5, 62}, {0, 0, 1}},
    };
    for (const auto& c : cases) {
        motion m = start3(c.from[0], c.from[1], c.from[2], c.to[0], c.to[1], c.to[2]);
        int n = std::abs(c.to[0] - c.from[0]) + std::abs(c.to[1] - c.from[1]) + std::abs(c.to[2] - c.from[2]);
        Point p = c.from;
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(m.at_destination(), 0);
            m.move_one_square();
            for (int a = 0; a < 3; a++) p[a] += c.step[a];
            EXPECT_EQ(where(m), p);
        }
        EXPECT_EQ(m.at_destination(), 1);
    }
}

TEST(MotionTest, WayBackIsNotTheWayOutReversed) {
    const Point back[] = {{4, 2, 0}, {3, 2, 0}, {2, 1, 0}, {1, 1, 0}, {0, 0, 0}};
    const Point out[] = {{1, 0, 0}, {2, 0, 0}, {3, 1, 0}, {4, 1, 0}, {5, 2, 0}};
    EXPECT_EQ(walk(start3(5, 2, 0, 0, 0, 0), 5), std::vector<Point>(std::begin(back), std::end(back)));
    EXPECT_EQ(walk(start3(0, 0, 0, 5, 2, 0), 5), std::vector<Point>(std::begin(out), std::end(out)));
}

TEST(MotionTest, TranslationMidFlightKeepsThePattern) {
    // A missile track as a launch makes it; x is shifted by 600 as at the map's edge.
    for (int shift : {600, -600}) {
        for (int moved = 0; moved <= 70; moved += 7) {
            motion plain = start3(1590, 204, 0, 1000 + 555, 380, 62);
            for (int i = 0; i < moved; i++) plain.move_one_square();
            motion shifted = plain;
            shifted.curx = static_cast<int16_t>(shifted.curx + shift);
            shifted.destx = static_cast<int16_t>(shifted.destx + shift);
            int remaining = 0;
            while (!plain.at_destination()) {
                ASSERT_LT(remaining, 1000) << "never arrives";
                ASSERT_FALSE(shifted.at_destination()) << "shift " << shift << " after " << moved;
                plain.move_one_square();
                shifted.move_one_square();
                remaining++;
                EXPECT_EQ(shifted.curx, plain.curx + shift);
                EXPECT_EQ(shifted.cury, plain.cury);
                EXPECT_EQ(shifted.curz, plain.curz);
            }
            EXPECT_EQ(shifted.at_destination(), 1);
            EXPECT_EQ(remaining, std::max(0, (380 - 204) - moved));  // the y distance is the longest
        }
    }
}

// Over random tracks in the game's ranges (x below 2000, y below 400, z 0..62): the big axis steps
// on every move, the medium one floor(n * med / big) times in n moves, the small one only on moves
// where the medium one steps and floor(m * sml / med) times in m medium steps; arrival comes after
// exactly big moves and never before.
TEST(MotionTest, ArrivesAfterExactlyTheLongestDistance) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> xs(0, 1999), ys(0, 399), zs(0, 62);
    for (int round = 0; round < 1500; round++) {
        Point a{xs(rng), ys(rng), zs(rng)};
        Point b{xs(rng), ys(rng), zs(rng)};
        if (round % 10 == 0) b[1] = a[1];  // some flat and some straight lines
        if (round % 15 == 0) b[2] = a[2];
        motion m = start3(a[0], a[1], a[2], b[0], b[1], b[2]);

        std::array<int, 3> dist{}, order{0, 1, 2};
        for (int i = 0; i < 3; i++) dist[i] = std::abs(b[i] - a[i]);
        std::stable_sort(order.begin(), order.end(), [&](int l, int r) { return dist[l] > dist[r]; });
        const int big = dist[order[0]], med = dist[order[1]], sml = dist[order[2]];

        Point prev = a;
        int med_steps = 0;
        for (int n = 1; n <= big; n++) {
            ASSERT_EQ(m.at_destination(), 0) << "arrived early, round " << round << " move " << n;
            bool diagonal = m.next_diagonal() != 0;
            m.move_one_square();
            Point p = where(m);
            std::array<int, 3> stepped{};
            for (int i = 0; i < 3; i++) {
                int d = p[i] - prev[i];
                ASSERT_LE(std::abs(d), 1);
                ASSERT_TRUE(d == 0 || (d > 0) == (b[i] > a[i])) << "stepped away, round " << round;
                stepped[i] = d != 0;
            }
            int medium_now = std::abs(p[order[1]] - a[order[1]]);
            int small_now = std::abs(p[order[2]] - a[order[2]]);
            ASSERT_TRUE(stepped[order[0]]);
            ASSERT_EQ(medium_now, n * med / big) << "round " << round << " move " << n;
            if (med > 0) {
                ASSERT_EQ(stepped[order[1]] != 0, diagonal) << "round " << round << " move " << n;
                if (stepped[order[1]]) med_steps++;
                ASSERT_EQ(small_now, med_steps * sml / med) << "round " << round << " move " << n;
            }
            if (stepped[order[2]]) {
                ASSERT_TRUE(stepped[order[1]]) << "round " << round << " move " << n;
            }
            prev = p;
        }
        ASSERT_EQ(m.at_destination(), 1) << "round " << round;
        ASSERT_EQ(prev, b);
    }
}

}  // namespace
