// The lobby as one process of a cluster, on the loopback, with the cluster played by the test: a room's
// journal rebuilds it on another lobby, tick for tick; a Join for a room elsewhere is moved; a lost
// lease gives the rooms up, their players left to rejoin.
#include <gtest/gtest.h>

#include "harness.h"
#include "model/globals.h"

namespace {

using namespace online_test;

// Keeps what a lobby writes, as Redis would: the tokens, the newest snapshot and the frames since.
class FakeCluster : public online::ClusterPort {
public:
    int attach(Tell tell) override { return tell_ = std::move(tell), 1; }
    void detach(int) override { tell_ = {}; }
    uint64_t serving() const override { return lease; }
    void created(int, const std::string&, const std::vector<std::string>& tokens) override { room.tokens = tokens; }
    void token(const std::string&, int seat, const std::string& token) override {
        room.tokens.resize(std::max(room.tokens.size(), static_cast<size_t>(seat) + 1));
        room.tokens[static_cast<size_t>(seat)] = token;
    }
    void snapshot(const std::string&, std::string bytes) override {
        room.snapshot = std::move(bytes), room.frames.clear();
    }
    void frame(const std::string&, std::string bytes) override { room.frames.push_back(std::move(bytes)); }
    void closed(const std::string&) override {}
    void find(int, uint64_t conn, const std::string& room_code) override { asked.emplace_back(conn, room_code); }
    uint64_t dropped() const override { return 0; }
    void answer(online::Found found) {
        auto [conn, room_code] = asked.at(0);
        asked.erase(asked.begin());
        tell_({online::ClusterNews::found, conn, room_code, std::move(found)});
    }

    uint64_t lease = 1;
    online::Found room;  // as a takeover reads it back
    std::vector<std::pair<uint64_t, std::string>> asked;

private:
    Tell tell_;
};

struct Process {
    Process() : loop(options(), hooks()) {
        loop.lobby().join_cluster(cluster, [this](std::function<void(online::Millis)> f) { f(loop.now()); });
    }
    static online::ServerOptions options() {
        online::ServerOptions o;
        o.tick_ms = 10;
        return o;
    }
    std::shared_ptr<FakeCluster> cluster = std::make_shared<FakeCluster>();
    online::Loopback loop;
};

TEST(LobbyClusterTest, AJournalRebuildsTheRoomTickForTick) {
    work_in_empty_folder();
    Process a, b;
    Player creator, back;
    creator.create(a.loop);
    ASSERT_TRUE(run_until(
        a.loop, {&creator}, [&] { return creator.session().playing(); }, 5000));
    // Clicks on the player boxes: inputs in frames, journaled after the room's first snapshot.
    for (int click = 0; click < 3; click++) {
        creator.click(190 + 30 * click, 340);
        uint32_t end = creator.session().tick() + 15;
        ASSERT_TRUE(run_until(
            a.loop, {&creator}, [&] { return creator.session().tick() >= end; }, 5000));
    }
    ASSERT_FALSE(a.cluster->room.snapshot.empty());
    ASSERT_GE(a.cluster->room.frames.size(), 3u);
    online::Room& old_room = *a.loop.lobby().room(creator.session().code());

    // Process b takes the room over: the creator, by its token, lands in the rebuilt room.
    back.join(b.loop, creator.session().code(), creator.session().token());
    run_until(
        b.loop, {&back}, [&] { return !b.cluster->asked.empty(); }, 1000);
    online::Found taken = a.cluster->room;
    taken.kind = online::Found::taken;
    b.cluster->answer(taken);
    ASSERT_TRUE(run_until(
        b.loop, {&back}, [&] { return back.session().playing(); }, 5000));
    EXPECT_EQ(back.session().side(), 0);
    online::Room& rebuilt = *b.loop.lobby().room(creator.session().code());
    uint32_t checkpoint = back.session().tick() / 10 * 10;
    ASSERT_GT(checkpoint, 0u);
    uint64_t hash = 0;
    ASSERT_NE(old_room.check(checkpoint, 0, &hash), online::Room::Check::kUnknown);
    EXPECT_EQ(rebuilt.check(checkpoint, hash, nullptr), online::Room::Check::kMatch);
    EXPECT_EQ(b.loop.lobby().metrics().takeovers_total, 1u);
}

TEST(LobbyClusterTest, AJoinForARoomElsewhereIsMoved) {
    work_in_empty_folder();
    Process a;
    auto c = a.loop.connect();
    online::RoomCode code;
    ASSERT_TRUE(online::parse_code("K3M7-Q2PX", &code));
    c->send_message(online::encode(online::ClientJoin{online::kProtocolVersion, code, {}}));
    ASSERT_EQ(a.cluster->asked.size(), 1u);
    online::Found moved;
    moved.kind = online::Found::moved;
    moved.address = "ws://127.0.0.1:8802";
    a.cluster->answer(moved);
    auto m = c->next();
    ASSERT_TRUE(m && std::holds_alternative<online::ServerMoved>(*m));
    EXPECT_EQ(std::get<online::ServerMoved>(*m).address, "ws://127.0.0.1:8802/room/K3M7Q2PX");
    EXPECT_FALSE(c->next());
    EXPECT_TRUE(c->closed());
}

TEST(LobbyClusterTest, ALostLeaseGivesTheRoomsUpAndTheirPlayersRejoin) {
    work_in_empty_folder();
    Process a;
    Player creator;
    creator.create(a.loop);
    creator.rejoin_over(a.loop, "127.0.0.1");
    ASSERT_TRUE(run_until(
        a.loop, {&creator}, [&] { return creator.session().playing(); }, 5000));
    online::RoomCode code = creator.session().code();
    a.cluster->lease = 0;
    run_until(
        a.loop, {&creator}, [&] { return creator.session().rejoining(); }, 1000);
    EXPECT_EQ(a.loop.lobby().room(code), nullptr);
    EXPECT_TRUE(creator.session().rejoining());
    EXPECT_FALSE(creator.session().lost());
    // Without a lease the lobby makes no room.
    Player late;
    late.create(a.loop);
    run_until(
        a.loop, {&late}, [&] { return late.session().lost(); }, 1000);
    EXPECT_NE(late.session().reason().find("not serving"), std::string::npos);
}

}  // namespace
