// Replays: games recorded and played back, snapshots restored into another game, games taking turns
// at one thread's globals or running on two threads, paints that change nothing, and bad files.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>

#include "game_fixture.h"
#include "platform/context.h"
#include "replay/file.h"
#include "replay/game.h"
#include "replay/hash.h"
#include "replay/playback.h"
#include "replay/state.h"
#include "tools/sim/replay_check.h"

namespace {

using namespace vantor_test;

// A working directory of its own, empty: only the built-in maps are listed.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/vantor-replay-XXXXXX";
        path_ = mkdtemp(pattern);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(path_);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_, old_;
};

// A headless game in a Game of its own, opened and taken to the title screen.
class Table {
public:
    Table() {
        replay::Game::Scope entered(game_);
        EXPECT_TRUE(openwindow());
        window_ = hwnd;
        for (int i = 0; i < 20; i++) tick();
        click(300, 200);
    }
    ~Table() {
        replay::Game::Scope entered(game_);
        plat::destroy_window(window_);
        hwnd = nullptr;
    }
    template <typename F>
    auto in(F f) {
        return game_.in(f);
    }
    void send(uint32_t message, uint32_t wParam, int32_t lParam) {
        replay::Game::Scope entered(game_);
        feed(window_, message, wParam, lParam);
    }
    void tick() { send(plat::WM_TIMER, TIMER_ID, 0); }
    void click(int x, int y) {
        send(plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y));
        send(plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
    }
    uint64_t hash() { return in(replay::state_hash); }
    uint8_t mode() { return in([] { return timer_mode; }); }
    // The computer on every side of a game on the named map, from the title's Start.
    bool start(const char* map, int players, uint16_t game_seed) {
        replay::Game::Scope entered(game_);
        for (int i = 0; i < num_maps; i++)
            if (std::strcmp(filelist[i].letter, map) == 0) cur_map = static_cast<uint8_t>(i);
        num_players = static_cast<uint8_t>(players);
        for (bool& cpu : cpu_player) cpu = true;
        seed = game_seed;
        click(380, 340);
        return std::strcmp(loaded_map.letter, map) == 0 && timer_mode == MODE_PLACING;
    }
    std::vector<plat::Colour> window_picture() { return in([] { return WinDC->bitmap->pixels; }); }

private:
    replay::Game game_;
    plat::Window* window_ = nullptr;
};

constexpr int kGameTicks = 40000;  // far more than any computer game lasts

replay::Recording record_computer_game(const char* map, int players, uint16_t game_seed) {
    replay::Recording recorded;
    bool done = false;
    replay::Recorder recorder([&](replay::Recording&& game) {
        recorded = std::move(game);
        done = true;
    });
    Table table;
    replay::set_listener(&recorder);
    EXPECT_TRUE(table.start(map, players, game_seed));
    for (int t = 0; t < kGameTicks && !done; t++) table.tick();
    replay::set_listener(nullptr);
    EXPECT_TRUE(done && recorded.finished) << "the game did not end";
    return recorded;
}

// Plays a recording back in a game of its own; the first tick that differed, or -1.
int64_t play_back(const replay::Recording& game) {
    Table player;
    replay::Playback playback(game, [&](uint32_t m, uint32_t w, int32_t l) { player.send(m, w, l); });
    std::string why;
    EXPECT_TRUE(player.in([&] { return playback.start(&why); })) << why;
    while (player.in([&] { return playback.step(); })) {
    }
    return playback.first_mismatch();
}

TEST(Replay, ComputerGamesPlayBackTheSameOnEveryBuiltInMap) {
    TempDir dir;
    uint16_t game_seed = 100;
    for (const char* map : {"World", "Pangaea", "Twin", "Archipelago"}) {
        for (int players = 2; players <= 4; players++) {
            SCOPED_TRACE(std::string(map) + ", " + std::to_string(players) + " sides");
            replay::Recording recorded = record_computer_game(map, players, game_seed++);
            // Through the file format and back.
            std::vector<uint8_t> bytes = replay::encode_replay(recorded);
            replay::Recording back;
            std::string why;
            ASSERT_TRUE(replay::decode_replay(bytes.data(), bytes.size(), &back, &why)) << why;
            EXPECT_EQ(back.players, players);
            EXPECT_EQ(back.map, map);
            EXPECT_EQ(play_back(back), -1);
        }
    }
}

// vantor-sim --check-replays: a game's own recording checks; one hash changed is caught at its tick.
TEST(Replay, TheTournamentsReplayCheckPassesAGameAndNamesTheTickThatDiffers) {
    TempDir dir;
    replay::Recording recorded = record_computer_game("Twin", 2, 7);
    ASSERT_GT(recorded.checkpoints.size(), 4u);
    EXPECT_EQ(sim::check_replay(recorded), "");
    recorded.checkpoints[3] ^= 1;
    EXPECT_EQ(sim::check_replay(recorded).rfind("tick 30 differs: recorded ", 0), 0u);
}

TEST(Replay, SnapshotsTakenAtRandomTicksCarryOnTheSame) {
    TempDir dir;
    std::mt19937 random(2026);
    for (int round = 0; round < 3; round++) {
        Table original;
        ASSERT_TRUE(original.start("World", 4, static_cast<uint16_t>(300 + round)));
        int wait = std::uniform_int_distribution<int>(0, 2500)(random);
        for (int t = 0; t < wait && original.mode() != MODE_TITLE; t++) original.tick();
        SCOPED_TRACE("snapshot after " + std::to_string(wait) + " ticks");
        std::vector<uint8_t> snapshot = original.in(replay::take_snapshot);
        EXPECT_LT(snapshot.size(), 64u * 1024);
        // Kept whole by every room's recording: no megabytes set aside beside it.
        EXPECT_LT(snapshot.capacity(), 64u * 1024);

        Table copy;
        std::string why;
        ASSERT_TRUE(copy.in([&] { return replay::restore_snapshot(snapshot.data(), snapshot.size(), &why); })) << why;
        ASSERT_EQ(copy.hash(), original.hash());
        EXPECT_EQ(copy.window_picture(), original.window_picture());
        for (int t = 0; t < kGameTicks && original.mode() != MODE_TITLE; t++) {
            original.tick();
            copy.tick();
            ASSERT_EQ(copy.hash(), original.hash()) << "tick " << t << " after the restore";
        }
        EXPECT_EQ(copy.window_picture(), original.window_picture());
    }
}

// The hash after every tick of a computer game's first ticks, the game alone on its thread.
std::vector<uint64_t> hashes_alone(uint16_t game_seed, int ticks) {
    Table table;
    EXPECT_TRUE(table.start("Twin", 3, game_seed));
    std::vector<uint64_t> hashes;
    for (int t = 0; t < ticks; t++) {
        table.tick();
        hashes.push_back(table.hash());
    }
    return hashes;
}

TEST(Replay, GamesTakingTurnsOrOnTwoThreadsAreEachTheSameAsAlone) {
    TempDir dir;
    constexpr int kTicks = 3000;
    std::vector<uint64_t> a_alone = hashes_alone(11, kTicks);
    std::vector<uint64_t> b_alone = hashes_alone(12, kTicks);
    ASSERT_NE(a_alone, b_alone);

    std::vector<uint64_t> a, b;
    {
        Table ta, tb;
        ASSERT_TRUE(ta.start("Twin", 3, 11));
        ASSERT_TRUE(tb.start("Twin", 3, 12));
        for (int t = 0; t < kTicks; t++) {
            ta.tick();
            a.push_back(ta.hash());
            tb.tick();
            b.push_back(tb.hash());
        }
    }
    EXPECT_EQ(a, a_alone);
    EXPECT_EQ(b, b_alone);

    std::vector<uint64_t> a_thread, b_thread;
    std::thread first([&] { a_thread = hashes_alone(11, kTicks); });
    std::thread second([&] { b_thread = hashes_alone(12, kTicks); });
    first.join();
    second.join();
    EXPECT_EQ(a_thread, a_alone);
    EXPECT_EQ(b_thread, b_alone);
}

class ReplayInWindowTest : public GameTest {};

// What a game keeps besides its globals goes with it: a listener set while one game is entered hears
// that game alone, and the settings file is the game's.
TEST(Replay, AListenerAndASettingsFileBelongToTheGameTheyWereSetIn) {
    struct Presses : replay::Listener {
        int heard = 0;
        void before(const plat::Message& msg) override { heard += msg.message == plat::WM_LBUTTONDOWN; }
        void after(const plat::Message&) override {}
    } presses;
    Table a, b;
    a.in([&] {
        replay::set_listener(&presses);
        settingsfile("a.settings");
    });
    b.click(10, 10);
    EXPECT_EQ(presses.heard, 0) << "b's press went to a's listener";
    a.click(10, 10);
    EXPECT_EQ(presses.heard, 1);
    b.in([] {
        EXPECT_EQ(replay::listener(), nullptr);
        EXPECT_EQ(plat::game_context().settings_path, "");
    });
    a.in([] {
        EXPECT_EQ(plat::game_context().settings_path, "a.settings");
        replay::set_listener(nullptr);
    });
}

// An inner scope of another game gives the thread back to the outer game's as it ends.
TEST(Replay, AScopeWithinAScopeOfAnotherGameLeavesTheOuterGameEntered) {
    Table a, b;
    b.in([] { num_players = 3; });
    a.in([&] {
        num_players = 2;
        EXPECT_EQ(b.in([] { return num_players; }), 3);
        EXPECT_EQ(num_players, 2) << "a's globals are back";
    });
}

// Every window message that is an input becomes the game's record and goes back to the same message.
TEST(Replay, WindowMessagesAndTheGamesInputsTranslateBothWays) {
    const plat::Message messages[] = {{nullptr, plat::WM_LBUTTONDOWN, 1, plat::make_lparam(599, 459)},
                                      {nullptr, plat::WM_LBUTTONUP, 0, plat::make_lparam(12, 34)},
                                      {nullptr, plat::WM_KEYDOWN, 'F', 0},
                                      {nullptr, plat::WM_DROPFILES, 0, 0},
                                      {nullptr, WM_SIDE, 3, 1}};
    for (const plat::Message& m : messages) {
        GameInput input;
        ASSERT_TRUE(to_input(m.message, m.wParam, m.lParam, 7, 2, &input)) << m.message;
        EXPECT_EQ(input.tick, 7u);
        plat::Message back = to_message(input);
        EXPECT_EQ(std::make_tuple(back.message, back.wParam, back.lParam),
                  std::make_tuple(m.message, m.wParam, m.lParam));
    }
    GameInput none;
    EXPECT_FALSE(to_input(plat::WM_TIMER, TIMER_ID, 0, 0, 0, &none));
    EXPECT_FALSE(to_input(plat::WM_PAINT, 0, 0, 0, 0, &none));
}

TEST_F(ReplayInWindowTest, APaintChangesNothingOnAnyScreen) {
    auto paint_keeps = [&](const char* screen) {
        uint64_t before = replay::state_hash();
        paint();
        EXPECT_EQ(replay::state_hash(), before) << screen;
    };
    tick(5);
    paint_keeps("intro");
    to_title();
    paint_keeps("title");
    for (bool& cpu : cpu_player) cpu = true;
    click(380, 340);
    tick(3);
    paint_keeps("placing");
    run_until(MODE_PLAYING, 200);
    paint_keeps("play");
    for (int t = 0; t < 2000 && !shot[0].flag; t++) tick();
    ASSERT_TRUE(shot[0].flag);
    paint_keeps("a missile in flight");
    run_until(MODE_GAMEOVER);
    tick(60);
    paint_keeps("game over");
}

TEST_F(ReplayInWindowTest, BadReplaysAreRefusedWithTheirReasonAndChangeNothing) {
    // A short game between two people on Quad, ended with Abort.
    replay::Recording recorded;
    replay::Recorder recorder([&](replay::Recording&& game) { recorded = std::move(game); });
    replay::set_listener(&recorder);
    start_game();
    tick(30);
    click(300, 430);
    run_until(MODE_TITLE, 200);
    replay::set_listener(nullptr);
    ASSERT_TRUE(recorded.finished);
    std::vector<uint8_t> bytes = replay::encode_replay(recorded);
    replay::Recording back;
    std::string why;
    ASSERT_TRUE(replay::decode_replay(bytes.data(), bytes.size(), &back, &why)) << why;

    for (size_t size = 0; size < bytes.size(); size++) {
        why.clear();
        ASSERT_FALSE(replay::decode_replay(bytes.data(), size, &back, &why)) << "cut at " << size;
        ASSERT_FALSE(why.empty());
    }
    for (size_t at = 0; at < bytes.size(); at++) {
        std::vector<uint8_t> flipped = bytes;
        flipped[at] ^= 0x21;
        ASSERT_FALSE(replay::decode_replay(flipped.data(), flipped.size(), &back, &why)) << "byte " << at;
    }
    std::vector<uint8_t> older = bytes;
    older[8] = 1;
    uint64_t sum = replay::hash64(older.data(), older.size() - 8);
    std::memcpy(older.data() + older.size() - 8, &sum, 8);
    EXPECT_FALSE(replay::decode_replay(older.data(), older.size(), &back, &why));
    EXPECT_EQ(why, "it is a replay of version 1; this game plays version 2");

    // The Start release, then the Abort click, are in the file as the game's own records.
    ASSERT_TRUE(replay::decode_replay(bytes.data(), bytes.size(), &back, &why)) << why;
    ASSERT_EQ(back.inputs.size(), 3u);
    const GameInput& pressed = back.inputs[1];
    EXPECT_EQ(std::make_tuple(pressed.kind, pressed.x, pressed.y), std::make_tuple(InputKind::kPress, 300, 430));
    EXPECT_EQ(back.inputs[2].kind, InputKind::kRelease);
    replay::Recording strange = back;
    strange.inputs[1].kind = static_cast<InputKind>(6);
    std::vector<uint8_t> strange_bytes = replay::encode_replay(strange);
    EXPECT_FALSE(replay::decode_replay(strange_bytes.data(), strange_bytes.size(), &back, &why));
    EXPECT_EQ(why, "its game makes no sense");

    // The map it was played on, missing and then changed: the running game stays as it was.
    ASSERT_TRUE(replay::decode_replay(bytes.data(), bytes.size(), &back, &why));
    uint64_t before = replay::state_hash();
    std::filesystem::rename("Quad.map", "Kept.map");
    EXPECT_FALSE(replay::restore_snapshot(back.start.data(), back.start.size(), &why));
    EXPECT_EQ(why, "the map Quad cannot be read: QUAD.MAP MISSING");
    std::ifstream kept("Kept.map", std::ios::binary);
    std::vector<char> map((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    map[map.size() - 100] ^= 0x40;
    std::ofstream("Quad.map", std::ios::binary).write(map.data(), static_cast<std::streamsize>(map.size()));
    EXPECT_FALSE(replay::restore_snapshot(back.start.data(), back.start.size(), &why));
    EXPECT_EQ(why, "the map Quad is not the one this game was played on");
    EXPECT_EQ(replay::state_hash(), before);
}

TEST(Replay, TheFolderKeepsTheNewestReplays) {
    TempDir dir;
    replay::Recording game;
    game.map = "World";
    game.players = 2;
    std::string why;
    std::vector<std::string> written;
    for (int i = 0; i < 4; i++) {
        written.push_back(replay::keep_replay(dir.path().string(), game, 3, &why));
        ASSERT_FALSE(written.back().empty()) << why;
        // Apart by more than the file system's clock step, which decides which is older.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.push_back(entry.path().string());
    std::sort(left.begin(), left.end());
    std::vector<std::string> newest(written.begin() + 1, written.end());
    std::sort(newest.begin(), newest.end());
    EXPECT_EQ(left, newest);
}

}  // namespace
