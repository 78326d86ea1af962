// A room's rules without the network: who may act on which screen, sides changing hands, and a game
// that follows the room's frames from a snapshot staying the same game.
#include <gtest/gtest.h>

#include "app/app.h"
#include "harness.h"
#include "model/globals.h"
#include "model/layout.h"
#include "online/room.h"
#include "platform/window.h"
#include "replay/state.h"

namespace {

using online::Room;
using namespace online_test;

constexpr int kStartX = 380, kStartY = 340;
constexpr int kAbortX = 300, kAbortY = 430;

GameInput input(InputKind kind, int x = 0, int y = 0, uint32_t code = 0) {
    return {0, 0, kind, static_cast<uint16_t>(x), static_cast<uint16_t>(y), code};
}
GameInput press(int x, int y) { return input(InputKind::kPress, x, y); }
GameInput release(int x, int y) { return input(InputKind::kRelease, x, y); }

class RoomTest : public ::testing::Test {
protected:
    void SetUp() override {
        work_in_empty_folder();
        ASSERT_TRUE(room_.open());
        ASSERT_EQ(room_.seat(online::new_token()), 0);
        room_.arrive(0);
    }
    int join() {
        int side = room_.seat(online::new_token());
        room_.arrive(side);
        return side;
    }
    bool click(int side, int x, int y) { return room_.offer(side, press(x, y)) && room_.offer(side, release(x, y)); }
    uint8_t mode() {
        return room_.in([] { return timer_mode; });
    }
    bool computer(int side) {
        return room_.in([side] { return cpu_player[side]; });
    }
    // Steps until the condition holds; false after max ticks.
    template <typename F>
    bool step_until(F condition, int max = 20000) {
        for (int i = 0; i < max; i++) {
            if (room_.in(condition)) return true;
            room_.step();
        }
        return false;
    }
    // Starts a game with sides 0 and 1 people, and steps into the turn of one of them.
    void play_until_person_moves() {
        ASSERT_EQ(join(), 1);
        ASSERT_TRUE(click(0, kStartX, kStartY));
        ASSERT_EQ(mode(), MODE_PLACING);
        ASSERT_TRUE(step_until([] { return timer_mode == MODE_PLAYING && cur_player < 2; }));
    }

    Room room_{hooks()};
};

TEST_F(RoomTest, OnTheTitleOnlyTheCreatorActsAndAReleaseFollowsItsPress) {
    int other = join();
    EXPECT_FALSE(room_.offer(other, press(kStartX, kStartY)));
    EXPECT_FALSE(room_.offer(other, release(kStartX, kStartY)));
    EXPECT_FALSE(room_.offer(0, release(kStartX, kStartY))) << "a release without a press";
    EXPECT_FALSE(room_.offer(0, input(InputKind::kKey, 0, 0, 'M')));
    EXPECT_FALSE(room_.offer(0, input(InputKind::kMapsAdded)));
    EXPECT_FALSE(room_.offer(0, input(InputKind::kSideHanded, 0, 0, 1)));
    EXPECT_EQ(mode(), MODE_TITLE);
    EXPECT_TRUE(room_.offer(0, press(kStartX, kStartY)));
    EXPECT_FALSE(room_.offer(other, release(kStartX, kStartY)));
    EXPECT_TRUE(room_.offer(0, release(kStartX, kStartY)));
    EXPECT_EQ(mode(), MODE_PLACING);
    // Nothing is taken while the units are placed.
    EXPECT_FALSE(click(0, kAbortX, kAbortY));
    online::ServerFrame frame = room_.step();
    ASSERT_EQ(frame.inputs.size(), 2u + 2u) << "side 1 made a person's, the Start click";
    EXPECT_EQ(frame.inputs[2], press(kStartX, kStartY));
    EXPECT_EQ(frame.inputs[3], release(kStartX, kStartY));
    EXPECT_TRUE(room_.step().inputs.empty());
}

TEST_F(RoomTest, OnlySeatedSidesArePeopleAndTheCreatorCannotMakeOthersSo) {
    EXPECT_EQ(mode(), MODE_TITLE);
    EXPECT_EQ(room_.tick(), 0u);
    for (int side = 0; side < NUM_SIDES; side++) EXPECT_EQ(computer(side), side > 0) << side;
    // The box of side 2, a computer's: the click gives it to a person, the room gives it back.
    ASSERT_TRUE(click(0, 220, 340));
    EXPECT_TRUE(computer(2));
    EXPECT_EQ(room_.in([] { return num_players; }), 4);
    // A seated side may be made the computer's.
    int other = join();
    ASSERT_TRUE(click(0, 190, 340));
    EXPECT_TRUE(computer(other));
}

TEST_F(RoomTest, InPlayOnlyThePlayerOfTheSideToMoveActsAndOnlyTheCreatorAborts) {
    play_until_person_moves();
    int mover = room_.in([] { return cur_player; });
    int other = 1 - mover;
    EXPECT_FALSE(room_.offer(other, press(300, 200)));
    EXPECT_TRUE(room_.offer(mover, press(300, 200)));
    EXPECT_FALSE(room_.offer(other, release(300, 200)));
    EXPECT_TRUE(room_.offer(mover, release(300, 200)));
    if (mover == 1) {
        EXPECT_FALSE(room_.offer(1, press(kAbortX, kAbortY))) << "Abort is the creator's";
    }
    EXPECT_EQ(mode(), MODE_PLAYING);
    EXPECT_TRUE(room_.offer(0, press(kAbortX, kAbortY)));
    EXPECT_EQ(mode(), MODE_GAMEOVER);
    EXPECT_FALSE(click(0, 300, 200)) << "nothing is taken in the game over";
}

TEST_F(RoomTest, WhileTheCreatorIsAwayTheNextPlayerLeadsTheRoom) {
    int second = join(), third = join();
    room_.leave(0);
    EXPECT_EQ(room_.leader(), second);
    EXPECT_FALSE(click(third, kStartX, kStartY));
    ASSERT_TRUE(click(second, kStartX, kStartY)) << "a room whose creator left can still start";
    ASSERT_TRUE(step_until([] { return timer_mode == MODE_PLAYING; }));
    EXPECT_FALSE(room_.offer(third, press(kAbortX, kAbortY)));
    room_.arrive(0);
    EXPECT_EQ(room_.leader(), 0) << "the creator takes the lead back";
    EXPECT_FALSE(room_.offer(second, press(kAbortX, kAbortY)));
    EXPECT_TRUE(room_.offer(0, press(kAbortX, kAbortY)));
    EXPECT_EQ(mode(), MODE_GAMEOVER);
}

TEST_F(RoomTest, ASideWhosePlayerLeavesIsPlayedByTheComputerUntilItComesBack) {
    play_until_person_moves();
    int mover = room_.in([] { return cur_player; });
    room_.leave(mover);
    EXPECT_TRUE(computer(mover));
    EXPECT_FALSE(room_.offer(mover, press(300, 200)));
    EXPECT_TRUE(step_until([mover] { return cur_player != mover || timer_mode != MODE_PLAYING; }))
        << "the computer fires for the side";
    room_.arrive(mover);
    EXPECT_FALSE(computer(mover));
}

TEST_F(RoomTest, FastPlayIsTheLeadersSwitchAndQuickensTheComputersTurnsOnly) {
    play_until_person_moves();
    int mover = room_.in([] { return cur_player; });
    EXPECT_FALSE(room_.offer(1, input(InputKind::kKey, 0, 0, 'F'))) << "side 1 does not lead";
    EXPECT_TRUE(room_.offer(0, input(InputKind::kKey, 0, 0, 'F')));
    EXPECT_FALSE(room_.fast()) << "a person is to move";
    room_.leave(mover);
    EXPECT_TRUE(room_.fast());
    // A click on the map in a computer's turn switches it off again, from the one who leads now.
    int stays = 1 - mover;
    ASSERT_EQ(room_.leader(), stays);
    EXPECT_TRUE(click(stays, 300, 200));
    EXPECT_FALSE(room_.fast());
    online::ServerFrame frame = room_.step();
    ASSERT_FALSE(frame.inputs.empty());
    EXPECT_EQ(frame.inputs[0], (GameInput{0, 0, InputKind::kKey, 0, 0, 'F'})) << "the switch is in the stream";
}

TEST_F(RoomTest, ATickTakesSoManyInputsThatItsFrameStaysWithinTheLimit) {
    // Presses on the title where nothing is: the creator's, and taken until the tick is full.
    size_t taken = 0;
    for (int i = 0; i < 2000; i++) taken += room_.offer(0, press(10, 10)) ? 1 : 0;
    EXPECT_GT(taken, 900u);
    EXPECT_TRUE(room_.busy());
    online::ServerFrame frame = room_.step();
    EXPECT_EQ(frame.inputs.size(), taken + 1) << "and side 0 made a person's";
    EXPECT_LE(frame.inputs.size(), online::kMaxFrameInputs);
    EXPECT_FALSE(room_.busy());
    EXPECT_TRUE(room_.offer(0, press(10, 10)));
}

// A client's game, without the network: the room's snapshot, then its frames.
TEST_F(RoomTest, AGameThatFollowsTheFramesIsTheRoomsGame) {
    play_until_person_moves();
    room_.leave(1);
    room_.leave(0);
    std::vector<uint8_t> snapshot = room_.snapshot();
    EXPECT_LT(snapshot.size() + 5, online::kMaxMessage) << "a snapshot in play fits in a message";
    Player follower;
    std::string why;
    ASSERT_TRUE(follower.in([&] { return replay::restore_snapshot(snapshot.data(), snapshot.size(), &why); })) << why;
    online::GameHooks h = hooks();
    int checked = 0;
    for (int i = 0; i < 3000 && room_.in([] { return timer_mode; }) != MODE_TITLE; i++) {
        online::ServerFrame frame = room_.step();
        follower.in([&] {
            for (const GameInput& in : frame.inputs) {
                plat::Message msg = to_message(in);
                h.deliver(msg.message, msg.wParam, msg.lParam);
            }
            h.deliver(plat::WM_TIMER, TIMER_ID, 0);
        });
        if (frame.tick % replay::kCheckpointTicks) continue;
        uint64_t ours = 0;
        ASSERT_EQ(room_.check(frame.tick, follower.hash(), &ours), Room::Check::kMatch) << "tick " << frame.tick;
        EXPECT_EQ(room_.check(frame.tick, ours + 1, nullptr), Room::Check::kDiffers);
        EXPECT_EQ(room_.check(frame.tick + 10, ours, nullptr), Room::Check::kUnknown);
        checked++;
    }
    EXPECT_GT(checked, 100);
    EXPECT_EQ(room_.check(5, 0, nullptr), Room::Check::kUnknown);
}

// The message that hands a side over, in the game itself.
TEST_F(RoomTest, ASideChangingHandsOnTheTitleJoinsTheGameAndBadValuesDoNothing) {
    room_.in([] {
        num_players = 2;
        uint64_t before = replay::state_hash();
        for (uint32_t side : {4u, 255u, 0xFFFFFFFFu}) feed(hwnd, WM_SIDE, side, 0);
        for (int32_t who : {2, -1, 0x7FFFFFFF}) feed(hwnd, WM_SIDE, 3, who);
        EXPECT_EQ(replay::state_hash(), before);
        feed(hwnd, WM_SIDE, 3, 0);
        EXPECT_FALSE(cpu_player[3]);
        EXPECT_EQ(num_players, 4);
        feed(hwnd, WM_SIDE, 3, 1);
        EXPECT_TRUE(cpu_player[3]);
        EXPECT_EQ(num_players, 4) << "a side handed to the computer stays in the game";
    });
}

}  // namespace
