// The lobby on the loopback, with no sockets and the clock moved by hand: refusals, the faults of
// one connection that leave the others playing, a player killed in a game and back, a game that
// drifts, silent connections and empty rooms, and what a hostile address (127.0.0.2) cannot do to an
// honest one (127.0.0.3).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "app/app.h"
#include "harness.h"
#include "model/globals.h"
#include "online/rejoin.h"
#include "platform/null.h"
#include "platform/window.h"
#include "replay/file.h"

namespace {

using namespace online_test;
using online::encode;
constexpr const char* kHostile = "127.0.0.2";
constexpr const char* kHonest = "127.0.0.3";

class LobbyTest : public ::testing::Test {
protected:
    void open(online::ServerOptions o = {}) {
        work_in_empty_folder();
        if (o.tick_ms == online::ServerOptions{}.tick_ms) o.tick_ms = 10;
        o.log = [this](const std::string& line) { lines_.push_back(line); };
        loop_ = std::make_unique<online::Loopback>(o, hooks());
    }
    online::Lobby& lobby() { return loop_->lobby(); }
    bool logged(const std::string& part) const {
        for (const std::string& line : lines_)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    bool until(const std::function<bool()>& done, online::Millis limit = 20'000,
               const std::function<void()>& script = {}) {
        return run_until(*loop_, players_, done, limit, script);
    }
    bool play_for(uint32_t ticks) {
        uint32_t end = creator_.session().tick() + ticks;
        return until([&] { return creator_.session().tick() >= end; }, online::Millis{ticks} * 20 + 1000);
    }
    // A creator and a joined player, both playing, from the honest address.
    void start_room() {
        creator_.create(*loop_, kHonest);
        ASSERT_TRUE(until([&] { return creator_.session().playing(); }));
        second_.join(*loop_, creator_.session().code(), {}, kHonest);
        ASSERT_TRUE(until([&] { return second_.session().playing(); }));
    }
    // A raw connection's create or join: the welcome, if that is the answer.
    std::optional<online::ServerWelcome> welcome(online::LoopConnection& c, const std::vector<uint8_t>& hello) {
        c.send_message(hello);
        std::optional<online::ToClient> m = c.next();
        if (!m || !std::holds_alternative<online::ServerWelcome>(*m)) return std::nullopt;
        return std::get<online::ServerWelcome>(*m);
    }
    online::ClientJoin join_message(online::RoomCode code, online::Token token = {}) {
        return online::ClientJoin{online::kProtocolVersion, code, token};
    }

    std::vector<std::string> lines_;
    std::unique_ptr<online::Loopback> loop_;  // before the players, who leave it when they go
    Player creator_, second_;
    std::vector<Player*> players_{&creator_, &second_};
};

TEST_F(LobbyTest, RefusesWithAReasonAndCountsIt) {
    online::ServerOptions o;
    o.max_rooms = 1;
    o.max_connections = 8;
    open(o);
    start_room();
    online::RoomCode code = creator_.session().code();
    EXPECT_EQ(creator_.session().side(), 0);
    EXPECT_TRUE(creator_.session().creator());
    EXPECT_EQ(second_.session().side(), 1);
    EXPECT_FALSE(second_.session().creator());

    auto refusal = [&](const std::vector<uint8_t>& hello) {
        auto c = loop_->connect(kHonest);
        c->send_message(hello);
        std::string reason = c->refusal();
        EXPECT_TRUE(c->closed()) << reason;
        return reason;
    };
    EXPECT_EQ(refusal(encode(online::ClientCreate{})), "the server is full: no room for another game");
    EXPECT_EQ(refusal(encode(online::ClientJoin{online::kProtocolVersion + 1, code, {}})),
              "this server speaks version " + std::to_string(online::kProtocolVersion));
    EXPECT_EQ(refusal(encode(join_message(online::RoomCode{code.value ^ 1}))).rfind("no room ", 0), 0u);
    EXPECT_EQ(refusal(encode(join_message(code, online::new_token()))),
              "that token holds no seat in room " + online::show_code(code));
    auto third = loop_->connect(), fourth = loop_->connect();
    EXPECT_EQ(welcome(*third, encode(join_message(code)))->side, 2);
    EXPECT_EQ(welcome(*fourth, encode(join_message(code)))->side, 3);
    EXPECT_TRUE(welcome(*loop_->connect(), encode(join_message(code)))->watching) << "the seats are taken";
    std::vector<std::unique_ptr<online::LoopConnection>> many;
    for (int i = 0; i < 5; i++) many.push_back(loop_->connect());
    EXPECT_EQ(many.back()->refusal(), "the server is full: too many connections");
    EXPECT_EQ(lobby().metrics().refusals_total, 5u);
    EXPECT_TRUE(logged("refused 127.0.0.3:"));
}

TEST_F(LobbyTest, TheRoomsOfAShardHaveCodesThatSaySo) {
    online::ServerOptions o;
    o.shard = 2;
    o.shards = 4;
    open(o);
    for (int i = 0; i < 16; i++) {
        auto c = loop_->connect("127.0.1." + std::to_string(i));
        std::optional<online::ServerWelcome> w = welcome(*c, encode(online::ClientCreate{}));
        ASSERT_TRUE(w);
        EXPECT_EQ((w->code.value >> 35) % 4, 2u);
    }
}

// Two lanes of one process: each makes the codes that fall to it, sends a player with another lane's
// code to its path, and counts an address's rooms and guesses with the other's.
TEST_F(LobbyTest, LanesShareTheProcesssLimitsAndSendAJoinToItsLane) {
    online::ServerOptions o;
    o.tick_ms = 10;
    o.lanes = 2;
    o.guesses_per_minute = 2;
    auto shared = std::make_shared<online::Allowances>(o);
    std::array<std::unique_ptr<online::Loopback>, 2> lanes;
    for (uint32_t i = 0; i < 2; i++) {
        o.lane = i;
        lanes[i] = std::make_unique<online::Loopback>(o, hooks(), shared);
    }
    std::vector<std::unique_ptr<online::LoopConnection>> held;
    std::array<online::RoomCode, 2> codes{};
    int made = 0;
    for (int i = 0; i < 12; i++) {
        uint32_t lane = static_cast<uint32_t>(i % 2);
        held.push_back(lanes[lane]->connect(kHostile));
        if (auto w = welcome(*held.back(), encode(online::ClientCreate{}))) {
            EXPECT_EQ(online::lane_of(w->code, o), lane);
            codes[lane] = w->code;
            made++;
        }
    }
    EXPECT_EQ(made, 8) << "the process's rooms an address may hold, not a lane's";
    std::string path = online::show_code(codes[1]).erase(4, 1);
    auto astray = lanes[0]->connect(kHonest);
    astray->send_message(encode(join_message(codes[1])));
    EXPECT_EQ(astray->refusal(), "room " + online::show_code(codes[1]) + " is joined at the path /room/" + path);
    for (uint32_t lane : {0u, 1u, 0u}) {
        auto guess = lanes[lane]->connect(kHonest);
        guess->send_message(encode(join_message(online::RoomCode{codes[lane].value ^ 2})));
        guess->refusal();
    }
    auto right = lanes[1]->connect(kHonest);
    right->send_message(encode(join_message(codes[1])));
    EXPECT_EQ(right->refusal(), "too many wrong codes from your address: wait a minute");
}

// Junk, inputs before joining, a second join and floods of inputs, of messages and of pings each close
// their own connection; a click out of turn is ignored. The room plays on, its players' games the room's.
TEST_F(LobbyTest, AFaultyClientIsDroppedAndTheRoomPlaysOn) {
    open();
    start_room();
    online::RoomCode code = creator_.session().code();
    online::Metrics before = lobby().metrics();
    second_.click(380, 340);  // only the creator starts a game
    ASSERT_TRUE(play_for(50));
    EXPECT_EQ(second_.in([] { return timer_mode; }), MODE_TITLE);
    EXPECT_EQ(lobby().metrics().ignored_total, before.ignored_total + 2);

    online::ClientInput key{GameInput{0, 0, InputKind::kKey, 0, 0, 'F'}};
    std::vector<std::pair<std::string, std::function<void(online::LoopConnection&)>>> faults = {
        {"a malformed message",
         [&](auto& c) {
             welcome(c, encode(join_message(code))), c.send_message({0x03, 1});
         }},
        {"before joining", [&](auto& c) { c.send_message(encode(key)); }},
        {"a second create or join",
         [&](auto& c) { welcome(c, encode(join_message(code))), c.send_message(encode(online::ClientCreate{})); }},
        {"too many inputs",
         [&](auto& c) {
             welcome(c, encode(join_message(code)));
             for (int i = 0; i < 60; i++) c.send_message(encode(key));
         }},
        {"too many messages",
         [&](auto& c) {
             welcome(c, encode(join_message(code)));
             for (int i = 0; i < 300; i++) c.send_message(encode(online::ClientHash{}));
         }},
        {"too many messages",
         [&](auto& c) {
             for (int i = 0; i < 300; i++) c.ping();
         }},
    };
    for (auto& [why, fault] : faults) {
        auto c = loop_->connect(kHostile);
        fault(*c);
        ASSERT_TRUE(play_for(20));
        EXPECT_TRUE(c->closed()) << why;
        EXPECT_TRUE(logged(why)) << why;
    }
    ASSERT_TRUE(play_for(200));
    online::Metrics after = lobby().metrics();
    EXPECT_EQ(after.drops_total, before.drops_total + faults.size());
    EXPECT_EQ(after.desyncs_total, 0u);
    EXPECT_GT(after.checks_total, before.checks_total + 2 * 20);
    for (Player* p : players_) {
        EXPECT_FALSE(p->session().lost()) << p->session().reason();
        EXPECT_EQ(p->session().snapshots(), 1u);
    }
    creator_.click(380, 340);
    EXPECT_TRUE(until([&] { return second_.in([] { return timer_mode == MODE_PLACING; }); }));
}

// Taking a seat back with its token does not renew the seat's allowance of inputs.
TEST_F(LobbyTest, InputLimitsBelongToTheSeat) {
    open();
    start_room();
    auto first = loop_->connect(kHostile);
    std::optional<online::ServerWelcome> w = welcome(*first, encode(join_message(creator_.session().code())));
    ASSERT_TRUE(w);
    online::ClientInput key{GameInput{0, 0, InputKind::kKey, 0, 0, 'F'}};
    for (int i = 0; i < 40; i++) first->send_message(encode(key));
    loop_->run_for(10);
    auto again = loop_->connect(kHostile);
    ASSERT_TRUE(welcome(*again, encode(join_message(w->code, w->token))));
    EXPECT_TRUE(first->closed());
    for (int i = 0; i < 40 && !again->closed(); i++) again->send_message(encode(key));
    EXPECT_TRUE(again->closed());
    EXPECT_TRUE(logged("too many inputs"));
}

TEST_F(LobbyTest, AKilledPlayersSideIsPlayedByTheComputerAndTakenBackOnItsReturn) {
    online::ServerOptions o;
    o.tick_ms = 1;
    open(o);
    start_room();
    Player third, fourth, back;
    for (Player* p : {&third, &fourth}) p->join(*loop_, creator_.session().code());
    players_ = {&creator_, &second_, &third, &fourth};
    ASSERT_TRUE(until([&] { return third.session().playing() && fourth.session().playing(); }));
    int side = third.session().side();
    Person persons[NUM_SIDES];
    auto act = [&] {
        for (Player* p : players_) persons[p->session().side()].act(*p);
    };
    auto mode = [&] { return creator_.in([] { return timer_mode; }); };
    auto computer = [&] { return creator_.in([side] { return cpu_player[side]; }); };
    auto in_game = [&] { return mode() == MODE_PLAYING && creator_.in([side] { return alive[side]; }); };
    creator_.click(380, 340);
    ASSERT_TRUE(until([&] { return mode() == MODE_PLAYING; }, 20'000, act));
    ASSERT_TRUE(play_for(100));

    online::Token token = third.session().token();
    third.drop();
    players_ = {&creator_, &second_, &fourth};
    ASSERT_TRUE(until(computer, 10'000, act));
    EXPECT_TRUE(logged("left, side " + std::to_string(side)));
    // The computer plays a turn for the side, unless the side is out or the game over first.
    bool seen = false, played = false;
    auto watch = [&] {
        act();
        bool moving = computer() && creator_.in([side] { return cur_player == side; });
        played = seen && !moving;
        seen = seen || moving;
    };
    ASSERT_TRUE(until([&] { return played || !in_game(); }, 600'000, watch));
    EXPECT_TRUE(played || !creator_.in([side] { return alive[side]; })) << "the game ended with the side in it";

    back.join(*loop_, creator_.session().code(), token);
    players_.push_back(&back);
    ASSERT_TRUE(until([&] { return back.session().playing() || back.session().lost(); }));
    EXPECT_EQ(back.session().side(), side);
    ASSERT_TRUE(until([&] { return !computer(); }, 10'000));
    EXPECT_FALSE(back.in([side] { return cpu_player[side]; }));
    EXPECT_TRUE(logged("rejoined, side " + std::to_string(side)));

    EXPECT_TRUE(until([&] { return mode() == MODE_TITLE; }, 1'200'000, act));
    EXPECT_EQ(lobby().metrics().desyncs_total, 0u);
    for (Player* p : players_) EXPECT_FALSE(p->session().lost()) << p->session().reason();
}

// A drift is looked into: the log names the piece that differs, and the room's game since its Start
// press is kept as a replay that plays back to the room's state.
TEST_F(LobbyTest, AGameThatDriftsIsRestoredAndOneThatKeepsDriftingIsRefused) {
    open();
    start_room();
    creator_.click(380, 340);  // Start
    ASSERT_TRUE(until([&] { return creator_.in([] { return timer_mode == MODE_PLACING; }); }));
    ASSERT_TRUE(play_for(20));
    // A global the placing of units does not read, so that the games part ways there alone.
    second_.in([] { justaborted = true; });
    ASSERT_TRUE(until([&] { return second_.session().snapshots() == 2 && logged("differs in"); }));
    EXPECT_EQ(lobby().metrics().desyncs_total, 1u);
    for (const std::string& line : lines_) {
        if (line.find("differs in") != std::string::npos) {
            EXPECT_TRUE(line.ends_with("differs in justaborted")) << line;
        }
    }
    std::vector<std::filesystem::path> kept;
    for (const auto& entry : std::filesystem::directory_iterator("desyncs")) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(logged("its game is in " + std::filesystem::absolute(kept[0]).string()));
    replay::Recording game;
    std::string why;
    ASSERT_TRUE(replay::read_replay(kept[0].string(), &game, &why)) << why;
    Player checker;
    checker.in([&] {
        replay::Playback playback(game, hooks().deliver);
        ASSERT_TRUE(playback.start(&why)) << why;
        while (playback.step()) {
        }
        EXPECT_EQ(playback.first_mismatch(), -1) << "the replay is the room's game";
    });
    ASSERT_TRUE(play_for(100));
    EXPECT_EQ(lobby().metrics().desyncs_total, 1u) << "the restored game is the room's again";

    auto tamper = [&] { second_.in([] { justaborted = true; }); };
    EXPECT_TRUE(until([&] { return second_.session().lost(); }, 20'000, tamper));
    EXPECT_EQ(second_.session().reason(), "your game keeps differing from the room's");
    EXPECT_FALSE(creator_.session().lost());
}

// A connection that sends nothing goes after the idle time; a room its players left, after the
// expiry; a room no one but its creator was ever in, within seconds.
TEST_F(LobbyTest, SilentConnectionsAndEmptyRoomsGo) {
    open();
    auto silent = loop_->connect(kHostile);
    loop_->run_for(29'000);
    EXPECT_FALSE(silent->closed());
    loop_->run_for(1'500);
    EXPECT_TRUE(silent->closed());
    EXPECT_TRUE(logged("nothing sent for 30 s"));

    start_room();
    ASSERT_TRUE(play_for(4000));  // players who pump send their hashes and stay
    EXPECT_FALSE(creator_.session().lost()) << creator_.session().reason();
    creator_.drop();
    second_.drop();
    loop_->run_for(299'000);
    EXPECT_EQ(lobby().metrics().rooms, 1u);
    loop_->run_for(1'500);
    EXPECT_EQ(lobby().metrics().rooms, 0u);

    auto alone = loop_->connect(kHostile);
    std::optional<online::ServerWelcome> w = welcome(*alone, encode(online::ClientCreate{}));
    ASSERT_TRUE(w);
    alone.reset();
    loop_->run_for(10'500);
    EXPECT_EQ(lobby().metrics().rooms, 0u);
    EXPECT_TRUE(logged("room " + online::show_code(w->code) + " expired"));
}

// One address holds a few rooms and creates a few a minute; another creates as it always could.
TEST_F(LobbyTest, OneAddressCannotFillTheServer) {
    open();
    std::vector<std::unique_ptr<online::LoopConnection>> held;
    int made = 0;
    for (int i = 0; i < 200; i++) {
        held.push_back(loop_->connect(kHostile));
        if (welcome(*held.back(), encode(online::ClientCreate{}))) made++;
    }
    EXPECT_EQ(made, 8);
    EXPECT_TRUE(logged("your address holds 8 rooms already"));
    held.clear();
    loop_->run_for(11'000);
    EXPECT_EQ(lobby().metrics().rooms, 0u);
    for (int i = 0; i < 20; i++) {
        held.push_back(loop_->connect(kHostile));
        if (welcome(*held.back(), encode(online::ClientCreate{}))) made++;
        held.pop_back();
        loop_->run_for(500);
    }
    EXPECT_LE(made, 8 + 10 + 1);
    EXPECT_TRUE(logged("your address has created rooms too fast"));
    start_room();
}

// GET /rooms lists the rooms created open, never a closed one, and is made again once a second at most.
TEST_F(LobbyTest, OnlyOpenRoomsAreListed) {
    open();
    auto listed = [&] { return online::parse_rooms_json(lobby().rooms_json(loop_->now())).value(); };
    EXPECT_TRUE(listed().empty());
    auto closed = loop_->connect(kHonest), open_one = loop_->connect(kHonest), later = loop_->connect(kHonest);
    ASSERT_TRUE(welcome(*closed, encode(online::ClientCreate{})));
    std::optional<online::ServerWelcome> w =
        welcome(*open_one, encode(online::ClientCreate{online::kProtocolVersion, true}));
    ASSERT_TRUE(w);
    loop_->run_for(2000);
    std::vector<online::OpenRoom> rooms = listed();
    ASSERT_EQ(rooms.size(), 1u);
    EXPECT_EQ(rooms[0].code, w->code);
    EXPECT_EQ(rooms[0].seated, 1);
    EXPECT_EQ(rooms[0].free, 3);
    EXPECT_FALSE(rooms[0].playing);
    EXPECT_FALSE(rooms[0].map.empty());
    EXPECT_EQ(rooms[0].age, 2);
    ASSERT_TRUE(welcome(*later, encode(online::ClientCreate{online::kProtocolVersion, true})));
    EXPECT_EQ(listed().size(), 1u) << "the list of a moment ago";
    loop_->run_for(1000);
    EXPECT_EQ(listed().size(), 2u);
}

// Wrong codes from one address soon stop being answered, even a right one after them; another
// address joins as ever.
TEST_F(LobbyTest, AnAddressGuessingCodesIsHeldBack) {
    online::ServerOptions o;
    o.guesses_per_minute = 5;
    open(o);
    creator_.create(*loop_, kHonest);
    ASSERT_TRUE(until([&] { return creator_.session().playing(); }));
    online::RoomCode code = creator_.session().code();
    std::vector<std::string> answers;
    for (int i = 0; i < 8; i++) {
        auto c = loop_->connect(kHostile);
        c->send_message(encode(join_message(online::RoomCode{(code.value + 1 + i) % online::kCodeLimit})));
        answers.push_back(c->refusal());
    }
    EXPECT_EQ(std::count_if(answers.begin(), answers.end(), [](auto& a) { return a.starts_with("no room"); }), 5);
    EXPECT_EQ(answers.back(), "too many wrong codes from your address: wait a minute");
    auto right = loop_->connect(kHostile);
    EXPECT_FALSE(welcome(*right, encode(join_message(code))));
    second_.join(*loop_, code, {}, kHonest);
    EXPECT_TRUE(until([&] { return second_.session().playing(); }));
    loop_->run_for(13'000);  // a guess back every 12 s
    auto again = loop_->connect(kHostile);
    EXPECT_TRUE(welcome(*again, encode(join_message(code))));
}

// What waits for a client that does not read is counted in the memory it holds and capped; and frames
// that wait with none taken for the write time drop the client, though it sends its hashes.
TEST_F(LobbyTest, AClientThatDoesNotReadIsDropped) {
    for (bool by_queue : {true, false}) {
        online::ServerOptions o;
        o.tick_ms = by_queue ? 1 : 100;
        if (by_queue) o.write_seconds = 3600;
        open(o);
        players_ = {&creator_};
        creator_.create(*loop_, kHonest);
        ASSERT_TRUE(until([&] { return creator_.session().playing(); }));
        auto reader = loop_->connect(kHostile);
        ASSERT_TRUE(welcome(*reader, encode(join_message(creator_.session().code()))));
        size_t most = 0;
        for (int s = 0; s < 60 && !reader->closed(); s++) {
            reader->send_message(encode(online::ClientHash{}));
            until([] { return false; }, 1'000);
            most = std::max(most, reader->queued());
        }
        EXPECT_TRUE(reader->closed());
        EXPECT_LE(most, o.max_queued + 4096);
        EXPECT_TRUE(logged(by_queue ? "it does not read what it is sent" : "it took nothing it was sent for 30 s"));
        EXPECT_FALSE(creator_.session().lost());
        reader.reset();
        creator_.drop();
        loop_.reset();
    }
}

// Lines of a kind beyond a few a window are summarised; the other kinds are written still.
TEST_F(LobbyTest, RepeatedLinesAreSummarised) {
    open();
    for (int i = 0; i < 300; i++) {
        auto c = loop_->connect(kHostile);
        c->send_message(encode(join_message(online::RoomCode{1})));
    }
    start_room();
    loop_->run_for(online::Log::kWindowMs);
    EXPECT_EQ(std::count_if(lines_.begin(), lines_.end(), [](auto& l) { return l.rfind("refused", 0) == 0; }),
              online::Log::kBurst);
    EXPECT_TRUE(logged("280 more lines of the kind 'refused' left out"));
    EXPECT_TRUE(logged("joined, side 1"));
}

// A writer that cannot keep up never holds up the one who logs: lines beyond the queue are lost and
// said to be.
TEST(LogTest, AWriterThatBlocksHoldsNoOneUp) {
    std::mutex lock;
    std::condition_variable freed;
    bool blocked = true;
    std::vector<std::string> written;
    {
        online::AsyncWriter writer([&](const std::string& line) {
            std::unique_lock<std::mutex> hold(lock);
            freed.wait(hold, [&] { return !blocked; });
            written.push_back(line);
        });
        for (size_t i = 0; i < 3 * online::AsyncWriter::kQueued; i++) writer.put("line");
        std::lock_guard<std::mutex> hold(lock);
        blocked = false;
        freed.notify_all();
    }
    // Every line is written or counted as lost, and the count comes last.
    size_t lines = 0, lost = 0;
    for (const std::string& w : written) {
        if (w == "line") lines++;
        else lost += std::stoul(w);
    }
    ASSERT_FALSE(written.empty());
    EXPECT_NE(written.back().find(" lines lost: the log was not read fast enough"), std::string::npos);
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(lines + lost, 3 * online::AsyncWriter::kQueued);
}

// The schedule of a dropped connection's tries, at both ends of the random draws.
TEST(RejoinTest, TriesFromHalfASecondToFiveWithJitterForAMinute) {
    for (uint32_t random : {0u, ~0u}) {
        online::Rejoin rejoin;
        rejoin.start(1000);
        EXPECT_FALSE(rejoin.due(1499, random));
        std::vector<int64_t> tries;
        for (int64_t now = 1000; now <= 70'000; now += 10)
            if (rejoin.due(now, random)) tries.push_back(now - 1000);
        ASSERT_GE(tries.size(), 12u);
        EXPECT_EQ(tries[0], 500);
        for (size_t i = 1; i < tries.size(); i++) {
            int64_t wait = tries[i] - tries[i - 1];
            EXPECT_GE(wait, random ? tries[i - 1] - (i > 1 ? tries[i - 2] : 0) : 500) << i;
            EXPECT_LE(wait, online::Rejoin::kLongestWait) << i;
        }
        EXPECT_LT(tries.back(), 60'000);
        EXPECT_EQ(tries.back() - tries[tries.size() - 2], 5000) << "the longest wait is reached";
        EXPECT_TRUE(rejoin.over(61'000));
        EXPECT_EQ(rejoin.seconds_left(1001), 60);
    }
    online::Rejoin rejoin;
    rejoin.start(0);
    ASSERT_TRUE(rejoin.due(500, 0));
    EXPECT_FALSE(rejoin.due(600, 0));
    rejoin.hurry();
    EXPECT_TRUE(rejoin.due(600, 0)) << "back in the foreground, a try at once";
}

// The players whose connections the network cuts mid-game are back in their seats by themselves,
// their games the room's again; one that cannot get back tries for a minute, then gives up.
TEST_F(LobbyTest, CutConnectionsAreBackInTheirSeatsByThemselves) {
    open();
    start_room();
    for (Player* p : players_) p->rejoin_over(*loop_, kHonest);
    creator_.click(380, 340);
    ASSERT_TRUE(until([&] { return creator_.in([] { return timer_mode == MODE_PLAYING; }); }));
    ASSERT_TRUE(play_for(30));
    loop_->cut(kHonest);
    online::Millis cut_at = loop_->now();
    ASSERT_TRUE(until([&] { return second_.session().rejoining(); }, 1000));
    EXPECT_EQ(second_.session().reason(), "the connection broke");
    ASSERT_TRUE(until([&] { return !creator_.session().rejoining() && !second_.session().rejoining(); }, 10'000));
    EXPECT_LT(loop_->now() - cut_at, 10'000);
    for (Player* p : players_) {
        EXPECT_FALSE(p->session().lost()) << p->session().reason();
        EXPECT_EQ(p->session().snapshots(), 2u);
        EXPECT_TRUE(logged("rejoined, side " + std::to_string(p->session().side())));
    }
    ASSERT_TRUE(play_for(30));
    EXPECT_EQ(creator_.hash(), second_.hash());
    EXPECT_EQ(lobby().metrics().desyncs_total, 0u);

    struct Unreachable : online::Transport {
        Unreachable() { inbox.fail("cannot connect"); }
        void send(std::vector<uint8_t>) override {}
        void close() override {}
    };
    int tries = 0;
    second_.session().rejoin_by(
        [&](online::RoomCode, std::vector<uint8_t>) {
            tries++;
            return std::make_unique<Unreachable>();
        },
        [&] { return loop_->now(); });
    loop_->cut(kHonest);
    cut_at = loop_->now();
    ASSERT_TRUE(until([&] { return second_.session().lost(); }, 70'000));
    EXPECT_GE(loop_->now() - cut_at, 60'000);
    EXPECT_EQ(second_.session().reason(), "no connection for a minute: cannot connect");
    EXPECT_GE(tries, 12);
    EXPECT_LE(tries, 22);
}

}  // namespace

// A fifth client watches: its game is the room's, tick for tick, its clicks reach no game, and the
// players hear of it. A late watcher starts from a snapshot; a room takes kMaxWatchers.
TEST_F(LobbyTest, WatchersFollowTheGameAndTheirClicksChangeNothing) {
    online::ServerOptions o;
    o.tick_ms = 1;
    open(o);
    start_room();
    online::RoomCode code = creator_.session().code();
    Player third, fourth, fifth, late;
    for (Player* p : {&third, &fourth}) p->join(*loop_, code);
    players_ = {&creator_, &second_, &third, &fourth};
    ASSERT_TRUE(until([&] { return third.session().playing() && fourth.session().playing(); }));
    fifth.join(*loop_, code);
    players_.push_back(&fifth);
    ASSERT_TRUE(until([&] { return fifth.session().playing(); }));
    EXPECT_TRUE(fifth.session().watching()) << "the four seats were taken";
    ASSERT_TRUE(until([&] { return creator_.session().roster().watchers == 1; }));
    EXPECT_EQ(creator_.session().roster().players, 0b1111);
    EXPECT_EQ(lobby().watchers(code), 1u);
    fifth.in([&] { onlinewelcome(fifth.session(), {"127.0.0.1", "8765"}, true); });
    EXPECT_EQ(fifth.in([] { return plat::window_caption(hwnd); })
                  .rfind("Vantor (room " + online::show_code(code) + " WATCHING) - the four seats are taken", 0),
              0u);

    auto mode = [&] { return creator_.in([] { return timer_mode; }); };
    uint64_t ignored = lobby().metrics().ignored_total;
    fifth.click(380, 340);
    fifth.key('F');
    ASSERT_TRUE(play_for(20));
    EXPECT_EQ(mode(), MODE_TITLE) << "a watcher cannot start the game";
    EXPECT_EQ(lobby().metrics().ignored_total, ignored + 3);

    Person persons[NUM_SIDES];
    int compared = 0;
    auto act = [&] {
        for (Player* p : {&creator_, &second_, &third, &fourth}) persons[p->session().side()].act(*p);
        for (Player* w : {&fifth, &late}) {
            if (!w->connected() || !w->session().playing() || w->session().tick() != creator_.session().tick())
                continue;
            ASSERT_EQ(w->hash(), creator_.hash()) << "tick " << w->session().tick();
            compared++;
        }
    };
    creator_.click(380, 340);
    ASSERT_TRUE(until([&] { return mode() == MODE_PLAYING; }, 20'000, act));
    late.watch(*loop_, code);
    players_.push_back(&late);
    ASSERT_TRUE(until([&] { return late.session().playing() && compared > 1500; }, 200'000, act));
    EXPECT_EQ(lobby().metrics().desyncs_total, 0u);

    std::vector<std::unique_ptr<online::LoopConnection>> more(online::kMaxWatchers - 1);
    for (auto& c : more)
        (c = loop_->connect())->send_message(encode(online::ClientWatch{online::kProtocolVersion, code}));
    EXPECT_EQ(lobby().watchers(code), 16u);
    EXPECT_EQ(more.back()->refusal(), "room " + online::show_code(code) + " has all the watchers it takes");
    more.clear();
    loop_->run_for(1);
    EXPECT_EQ(lobby().watchers(code), 2u);
}

// Fast play is an input of the room's stream: two computer sides play the game they play at the
// normal pace, tick for tick, in a quarter of the time.
TEST_F(LobbyTest, FastPlayOnlineIsTheSameGameInLessTime) {
    open();
    uint32_t end = 0;
    auto play = [&](bool fast, uint64_t* hash) {
        Player p;
        p.create(*loop_);
        loop_->run_for(1);
        p.pump();
        online::Room* room = lobby().room(p.session().code());
        room->in([] { seed = 4242; });
        players_ = {&p};
        EXPECT_TRUE(until([&] { return p.session().playing(); }));
        online::Millis start = loop_->now();
        for (int x : {160, 250, 220, 380}) p.click(x, 340);  // sides 0 and 1 the computer's, two sides, Start
        auto over = [&] { return room->in([] { return timer_mode == MODE_GAMEOVER; }); };
        EXPECT_TRUE(until([&] { return room->in([] { return timer_mode == MODE_PLAYING; }); }));
        if (fast) p.key('F');
        EXPECT_TRUE(until(over, 2'000'000));
        if (!end) end = (room->tick() / replay::kCheckpointTicks + 1) * replay::kCheckpointTicks;
        EXPECT_TRUE(until([&] { return room->tick() >= end; }));
        room->check(end, 0, hash);
        EXPECT_EQ(p.in([] { return fastplay; }), fast);
        return loop_->now() - start;
    };
    uint64_t normal = 0, quick = 0;
    online::Millis slow = play(false, &normal), took = play(true, &quick);
    EXPECT_EQ(quick, normal) << "the game at tick " << end;
    EXPECT_LT(took * 2, slow);
    EXPECT_EQ(lobby().metrics().desyncs_total, 0u);
}

// The desktop's creator is handed the invitation: on standard output, in the caption on the title
// screen, and on the clipboard with Ctrl+C. A link to the page when the server serves it, else the
// command; a joiner gets none.
TEST_F(LobbyTest, TheCreatorsInvitationIsPrintedShownAndCopied) {
    const online::Address server{"192.168.1.5", "8765"};
    for (bool site : {true, false}) {
        online::ServerOptions o;
        o.site = site ? "site" : "";
        creator_.drop(), second_.drop();
        open(o);
        start_room();
        std::string code = online::show_code(creator_.session().code());
        std::string link =
            site ? "http://192.168.1.5:8765/#join=" + code : "vantor --join " + code + "@192.168.1.5:8765";
        plat::set_clipboard("");
        testing::internal::CaptureStdout();
        std::string caption = creator_.in([&] {
            onlinewelcome(creator_.session(), server, false);
            frontkey(plat::Message{hwnd, plat::WM_KEYDOWN, plat::VK_COPY, 0});
            return plat::window_caption(hwnd);
        });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Room " + code + ": " + link + "\n");
        EXPECT_EQ(plat::clipboard(), link);
        EXPECT_NE(caption.find(" - invite " + link + " (Ctrl+C copies)"), std::string::npos) << caption;
        EXPECT_EQ(creator_.in([] { return timer_mode; }), MODE_TITLE);

        plat::set_clipboard("");
        second_.in([&] { onlinewelcome(second_.session(), server, true); });
        EXPECT_EQ(second_.in([] { return invite_link[0]; }), 0) << "only the creator invites";
    }
}
