// The server on the loopback: refusals, the faults of one connection that leave the others playing, a
// player killed in a game and back, a game that drifts and is restored, /metrics, idle connections and
// empty rooms.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "harness.h"
#include "model/globals.h"
#include "platform/window.h"

namespace {

using namespace online_test;
using namespace std::chrono_literals;
namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

// A WebSocket client that sends whatever it is told to, with every wait bounded.
class RawClient {
public:
    explicit RawClient(const online::Address& server) {
        tcp::resolver resolver(ioc_);
        beast::get_lowest_layer(ws_).connect(resolver.resolve(server.host, server.port));
        ws_.handshake(server.host, "/");
        ws_.binary(true);
    }
    void send(const std::vector<uint8_t>& bytes, bool binary = true) {
        ws_.binary(binary);
        beast::error_code ec;
        ws_.write(net::buffer(bytes), ec);
    }
    // The next message from the server; nothing once it has closed the connection or after the wait.
    std::optional<online::ToClient> next(std::chrono::milliseconds wait = 10s) {
        beast::flat_buffer buffer;
        bool done = false;
        beast::error_code result;
        ws_.async_read(buffer, [&](beast::error_code ec, size_t) { result = ec, done = true; });
        ioc_.restart();
        ioc_.run_for(wait);
        if (!done) {
            beast::get_lowest_layer(ws_).close();
            ioc_.restart();
            ioc_.run_for(1s);
            timed_out_ = true;
            return std::nullopt;
        }
        if (result) return std::nullopt;
        auto data = buffer.cdata();
        return online::decode_to_client(static_cast<const uint8_t*>(data.data()), data.size());
    }
    // Reads on until the server closes the connection: true when it does within the wait.
    bool closed_within(std::chrono::milliseconds wait) {
        for (auto end = std::chrono::steady_clock::now() + wait; std::chrono::steady_clock::now() < end;)
            if (!next(wait)) return !timed_out_;
        return false;
    }
    // The refusal's reason if the next message is one.
    std::string refusal() {
        std::optional<online::ToClient> m = next();
        return m && std::holds_alternative<online::ServerRefuse>(*m) ? std::get<online::ServerRefuse>(*m).reason : "";
    }
    // Joins as a new player: the side taken, -1 for none.
    int join(online::RoomCode code) {
        send(online::encode(online::ClientJoin{online::kProtocolVersion, code, {}}));
        std::optional<online::ToClient> m = next();
        return m && std::holds_alternative<online::ServerWelcome>(*m) ? std::get<online::ServerWelcome>(*m).side : -1;
    }

private:
    net::io_context ioc_;
    beast::websocket::stream<beast::tcp_stream> ws_{ioc_};
    bool timed_out_ = false;
};

// An HTTP GET; the status and the body.
std::pair<int, std::string> get(const online::Address& server, const std::string& target) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    tcp::resolver resolver(ioc);
    stream.connect(resolver.resolve(server.host, server.port));
    beast::http::request<beast::http::empty_body> request(beast::http::verb::get, target, 11);
    request.set(beast::http::field::host, server.host);
    beast::http::write(stream, request);
    beast::flat_buffer buffer;
    beast::http::response<beast::http::string_body> response;
    beast::http::read(stream, buffer, response);
    return {response.result_int(), response.body()};
}

class ServerTest : public ::testing::Test {
protected:
    // A creator and a joined player, both playing.
    void start_room(LocalServer& server) {
        creator_.create(server.address());
        ASSERT_TRUE(until([&] { return creator_.session().playing(); }));
        second_.join(server.address(), creator_.session().code());
        ASSERT_TRUE(until([&] { return second_.session().playing(); }));
    }
    // Pumps the players, with the script, until done; false after the wait.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds wait = 20s,
               const std::function<void()>& script = {}) {
        return pump_until(players_, bell_, done, wait, script);
    }
    // Pumps them for a number of the room's ticks.
    bool play_for(uint32_t ticks) {
        uint32_t end = creator_.session().tick() + ticks;
        return until([&] { return creator_.session().tick() >= end; });
    }

    Doorbell bell_;
    Player creator_{&bell_};
    Player second_{&bell_};
    std::vector<Player*> players_{&creator_, &second_};
};

online::ServerOptions fast(uint32_t tick_ms = 2) {
    online::ServerOptions options;
    options.tick_ms = tick_ms;
    return options;
}

TEST_F(ServerTest, RefusesWithAReasonAndCountsIt) {
    online::ServerOptions options = fast();
    options.max_rooms = 1;
    LocalServer server(options);
    start_room(server);
    online::RoomCode code = creator_.session().code();
    EXPECT_EQ(creator_.session().side(), 0);
    EXPECT_TRUE(creator_.session().creator());
    EXPECT_EQ(second_.session().side(), 1);
    EXPECT_FALSE(second_.session().creator());
    EXPECT_EQ(second_.session().code(), code);

    RawClient another_room(server.address());
    another_room.send(online::encode(online::ClientCreate{}));
    EXPECT_EQ(another_room.refusal(), "the server is full: no room for another game");
    EXPECT_TRUE(another_room.closed_within(5s));
    RawClient old_version(server.address());
    old_version.send(online::encode(online::ClientJoin{online::kProtocolVersion + 1, code, {}}));
    EXPECT_EQ(old_version.refusal(), "this server speaks version " + std::to_string(online::kProtocolVersion));
    RawClient no_room(server.address());
    no_room.send(online::encode(online::ClientJoin{online::kProtocolVersion, online::RoomCode{code.value ^ 1}, {}}));
    EXPECT_EQ(no_room.refusal().rfind("no room ", 0), 0u);
    RawClient stranger(server.address());
    stranger.send(online::encode(online::ClientJoin{online::kProtocolVersion, code, online::new_token()}));
    EXPECT_EQ(stranger.refusal(), "that token holds no seat in room " + online::show_code(code));

    RawClient third(server.address()), fourth(server.address()), fifth(server.address());
    EXPECT_EQ(third.join(code), 2);
    EXPECT_EQ(fourth.join(code), 3);
    fifth.send(online::encode(online::ClientJoin{online::kProtocolVersion, code, {}}));
    EXPECT_EQ(fifth.refusal(), "room " + online::show_code(code) + " is full");
    EXPECT_EQ(server.metrics().refusals_total, 5u);
    EXPECT_TRUE(server.logged("refused 127.0.0.1:"));
}

TEST_F(ServerTest, TheRoomsOfAShardHaveCodesThatSaySo) {
    online::ServerOptions options = fast();
    options.shard = 2;
    options.shards = 4;
    LocalServer server(options);
    for (int i = 0; i < 16; i++) {
        RawClient client(server.address());
        client.send(online::encode(online::ClientCreate{}));
        std::optional<online::ToClient> m = client.next();
        ASSERT_TRUE(m && std::holds_alternative<online::ServerWelcome>(*m));
        EXPECT_EQ((std::get<online::ServerWelcome>(*m).code.value >> 35) % 4, 2u);
    }
}

TEST_F(ServerTest, RefusesConnectionsBeyondTheLimit) {
    online::ServerOptions options = fast();
    options.max_connections = 2;
    LocalServer server(options);
    RawClient first(server.address()), second(server.address()), third(server.address());
    EXPECT_EQ(third.refusal(), "the server is full: too many connections");
    EXPECT_TRUE(third.closed_within(5s));
    first.send(online::encode(online::ClientCreate{}));
    std::optional<online::ToClient> welcome = first.next();
    EXPECT_TRUE(welcome && std::holds_alternative<online::ServerWelcome>(*welcome));
}

// Junk, oversized and text messages, inputs before joining, a second join and a flood each close their
// own connection; a click out of turn is ignored. The players of the room play on, their games the room's.
TEST_F(ServerTest, AFaultyClientIsDroppedAndTheRoomPlaysOn) {
    LocalServer server(fast());
    start_room(server);
    online::RoomCode code = creator_.session().code();
    online::Metrics before = server.metrics();

    // Out of turn: only the creator starts a game.
    second_.click(380, 340);
    ASSERT_TRUE(play_for(50));
    EXPECT_EQ(second_.in([] { return timer_mode; }), MODE_TITLE);
    EXPECT_EQ(server.metrics().ignored_total, before.ignored_total + 2);

    auto flood = [&](RawClient& c) {
        c.join(code);
        for (int i = 0; i < 200; i++) c.send(online::encode(online::ClientInput{{0, 0, InputKind::kKey, 0, 0, 'F'}}));
    };
    std::vector<std::function<void(RawClient&)>> faults = {
        [&](RawClient& c) {
            c.join(code), c.send({0x03, 1, 2});
        },
        [&](RawClient& c) { c.join(code), c.send(std::vector<uint8_t>(online::kMaxMessage + 1, 0x03)); },
        [&](RawClient& c) { c.join(code), c.send(online::encode(online::ClientHash{}), false); },
        [&](RawClient& c) {
            c.send(online::encode(online::ClientInput{{0, 0, InputKind::kPress, 0, 0, 0}}));
        },
        [&](RawClient& c) { c.join(code), c.send(online::encode(online::ClientCreate{})); },
        flood,
    };
    for (size_t i = 0; i < faults.size(); i++) {
        RawClient client(server.address());
        faults[i](client);
        ASSERT_TRUE(play_for(20));
        EXPECT_TRUE(client.closed_within(10s)) << "fault " << i;
    }
    ASSERT_TRUE(play_for(200));
    online::Metrics after = server.metrics();
    EXPECT_EQ(after.drops_total, before.drops_total + faults.size());
    EXPECT_EQ(after.desyncs_total, 0u);
    EXPECT_GT(after.checks_total, before.checks_total + 2 * 20);
    for (Player* p : players_) {
        EXPECT_FALSE(p->session().lost()) << p->session().reason();
        EXPECT_EQ(p->session().snapshots(), 1u);
    }
    EXPECT_TRUE(server.logged("a malformed message"));
    EXPECT_TRUE(server.logged("a message longer than"));
    EXPECT_TRUE(server.logged("too many inputs"));
    // The creator still plays: a game starts. And /metrics tells the tale on the same port.
    creator_.click(380, 340);
    EXPECT_TRUE(until([&] { return second_.in([] { return timer_mode == MODE_PLACING; }); }));
    auto [status, body] = get(server.address(), "/metrics");
    EXPECT_EQ(status, 200);
    std::vector<std::string> lines{"vantor_rooms 1\n",
                                   "vantor_players 2\n",
                                   "vantor_connections 2\n",
                                   "vantor_desyncs_total 0\n",
                                   "# TYPE vantor_frames_total counter\n",
                                   "vantor_drops_total " + std::to_string(after.drops_total) + "\n"};
    for (const std::string& line : lines) EXPECT_NE(body.find(line), std::string::npos) << line << body;
    EXPECT_EQ(get(server.address(), "/").first, 404);
}

TEST_F(ServerTest, AKilledPlayersSideIsPlayedByTheComputerAndTakenBackOnItsReturn) {
    LocalServer server(fast(1));
    start_room(server);
    Player third(&bell_), fourth(&bell_), back(&bell_);
    for (Player* p : {&third, &fourth}) p->join(server.address(), creator_.session().code());
    players_ = {&creator_, &second_, &third, &fourth};
    ASSERT_TRUE(until([&] { return third.session().playing() && fourth.session().playing(); }));
    // The two joined at once: either may have side 2.
    int side = third.session().side();
    Person persons[NUM_SIDES];
    auto act = [&] {
        for (Player* p : players_) persons[p->session().side()].act(*p);
    };
    auto mode = [&] { return creator_.in([] { return timer_mode; }); };
    auto computer = [&] { return creator_.in([side] { return cpu_player[side]; }); };
    auto in_game = [&] { return mode() == MODE_PLAYING && creator_.in([side] { return alive[side]; }); };
    creator_.click(380, 340);
    ASSERT_TRUE(until([&] { return mode() == MODE_PLAYING; }, 20s, act));
    ASSERT_TRUE(play_for(100));

    online::Token token = third.session().token();
    third.drop();
    players_ = {&creator_, &second_, &fourth};
    ASSERT_TRUE(until(computer, 10s, act));
    EXPECT_TRUE(server.logged("left, side " + std::to_string(side)));
    // The computer plays a turn for the side, unless the side is out or the game over first.
    bool seen = false, played = false;
    auto watch = [&] {
        act();
        bool moving = computer() && creator_.in([side] { return cur_player == side; });
        played = seen && !moving;
        seen = seen || moving;
    };
    ASSERT_TRUE(until([&] { return played || !in_game(); }, 60s, watch));
    EXPECT_TRUE(played || !creator_.in([side] { return alive[side]; })) << "the game ended with the side in it";

    back.join(server.address(), creator_.session().code(), token);
    players_.push_back(&back);
    ASSERT_TRUE(until([&] { return back.session().playing() || back.session().lost(); }));
    EXPECT_EQ(back.session().side(), side);
    EXPECT_EQ(back.session().token(), token);
    ASSERT_TRUE(until([&] { return !computer(); }, 10s));
    EXPECT_FALSE(back.in([side] { return cpu_player[side]; }));
    EXPECT_TRUE(server.logged("rejoined, side " + std::to_string(side)));

    // The game goes on to its end with every player's game the room's.
    EXPECT_TRUE(until([&] { return mode() == MODE_TITLE; }, 120s, act));
    EXPECT_EQ(server.metrics().desyncs_total, 0u);
    for (Player* p : players_) EXPECT_FALSE(p->session().lost()) << p->session().reason();
}

TEST_F(ServerTest, AGameThatDriftsIsRestoredAndOneThatKeepsDriftingIsRefused) {
    LocalServer server(fast());
    start_room(server);
    ASSERT_TRUE(play_for(20));
    second_.in([] { seed ^= 1; });
    ASSERT_TRUE(until([&] { return second_.session().snapshots() == 2; }));
    EXPECT_EQ(server.metrics().desyncs_total, 1u);
    EXPECT_TRUE(server.logged("desync at tick"));
    ASSERT_TRUE(play_for(100));
    EXPECT_EQ(server.metrics().desyncs_total, 1u) << "the restored game is the room's again";

    // A game changed before every report is not the room's game at all.
    auto tamper = [&] { second_.in([] { seed ^= 1; }); };
    EXPECT_TRUE(until([&] { return second_.session().lost(); }, 20s, tamper));
    EXPECT_EQ(second_.session().reason(), "your game keeps differing from the room's");
    EXPECT_FALSE(creator_.session().lost());
}

TEST_F(ServerTest, SilentConnectionsAndEmptyRoomsGo) {
    online::ServerOptions options = fast();
    options.idle_seconds = 1;
    options.expiry_seconds = 1;
    LocalServer server(options);
    RawClient silent(server.address());
    EXPECT_TRUE(silent.closed_within(5s));
    EXPECT_TRUE(server.logged("nothing sent for 1 s"));

    // A player who pumps sends its hashes and stays.
    start_room(server);
    ASSERT_TRUE(play_for(1000));
    EXPECT_FALSE(creator_.session().lost()) << creator_.session().reason();
    online::RoomCode code = creator_.session().code();
    creator_.drop();
    second_.drop();
    auto end = std::chrono::steady_clock::now() + 10s;
    while (server.metrics().rooms > 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(server.metrics().rooms, 0u);
    EXPECT_TRUE(server.logged("room " + online::show_code(code) + " expired"));
    RawClient late(server.address());
    late.send(online::encode(online::ClientJoin{online::kProtocolVersion, code, {}}));
    EXPECT_EQ(late.refusal(), "no room " + online::show_code(code));
}

}  // namespace
