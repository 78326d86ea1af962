// The 16-bit generator: its sequence, its ranges and the parity of its low bits.
#include <gtest/gtest.h>

#include "model/globals.h"
#include "model/random.h"

namespace {

class RandomTest : public ::testing::Test {
protected:
    void SetUp() override { reset_globals(); }
};

TEST_F(RandomTest, SequenceFromZero) {
    const uint16_t expected[] = {9439, 45342, 49341, 61372, 23067};
    for (uint16_t e : expected) {
        sc_rnd(0);
        EXPECT_EQ(seed, e);
    }
}

TEST_F(RandomTest, WorkedDraws) {
    EXPECT_EQ(sc_rnd(9), 9);
    EXPECT_EQ(sc_rnd(9), 2);
    EXPECT_EQ(sc_rnd(9), 1);
    EXPECT_EQ(sc_rnd(99), 72);
}

TEST_F(RandomTest, ZeroStillAdvances) {
    EXPECT_EQ(sc_rnd(0), 0);
    EXPECT_EQ(seed, 9439);
}

TEST_F(RandomTest, FullRangeReturnsSeed) {
    seed = 1234;
    uint16_t r = sc_rnd(65535);
    EXPECT_EQ(r, seed);
}

TEST_F(RandomTest, LowBitAlternatesWhateverTheArguments) {
    seed = 777;
    uint16_t previous = sc_rnd(1);
    for (int i = 0; i < 200; i++) {
        sc_rnd(static_cast<uint16_t>(i * 37 % 1000));  // any draw in between
        uint16_t next = sc_rnd(1);
        EXPECT_EQ(next, previous);  // two steps: the bit is back where it was
        uint16_t after = sc_rnd(1);
        EXPECT_NE(after, next);
        previous = after;
    }
}

TEST_F(RandomTest, TwoLowBitsRepeatWithPeriodFour) {
    seed = 4321;
    uint16_t first[4];
    for (uint16_t& v : first) v = sc_rnd(3);
    for (int round = 0; round < 10; round++)
        for (uint16_t v : first) EXPECT_EQ(sc_rnd(3), v);
}

TEST_F(RandomTest, FullPeriod) {
    std::vector<bool> seen(65536, false);
    for (int i = 0; i < 65536; i++) {
        sc_rnd(0);
        EXPECT_FALSE(seen[seed]) << "seed " << seed << " repeated after " << i;
        seen[seed] = true;
    }
}

TEST_F(RandomTest, Scatter) {
    EXPECT_EQ(sc_scatter(5), -4);
    uint16_t before = seed;
    EXPECT_EQ(sc_scatter(0), 0);
    EXPECT_NE(seed, before);
    for (int i = 0; i < 1000; i++) {
        int16_t v = sc_scatter(7);
        EXPECT_GE(v, -7);
        EXPECT_LE(v, 7);
    }
}

}  // namespace
