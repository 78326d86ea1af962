// The cluster's directory against a real redis-server of its own on a free loopback port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "online/cluster_redis.h"
#include "online/directory.h"

namespace online {
void PrintTo(Outcome outcome, std::ostream* out) { *out << to_string(outcome); }
namespace {

using namespace std::chrono_literals;

int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

// A redis-server with nothing on disk, in a folder of its own, ended by its PID.
class Redis {
public:
    ~Redis() {
        stop();
        if (made_) std::filesystem::remove_all(dir_);
    }
    int port() const { return port_; }

    // False if it did not answer within 5 s.
    bool start() {
        if (!made_) return false;
        auto port = std::to_string(port_);
        pid_ = fork();
        if (pid_ == 0) {
            execlp("redis-server", "redis-server", "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
                   "--appendonly", "no", "--dir", dir_.c_str(), "--logfile", "redis.log", nullptr);
            _exit(127);
        }
        Directory probe({.port = port_, .backoff_min = 0ms, .backoff_max = 0ms});
        RoomRecord none;
        for (int i = 0; i < 100 && probe.room("none", none) != Outcome::absent; ++i) std::this_thread::sleep_for(50ms);
        return probe.connected();
    }

    // At once: there is nothing to save.
    void stop() {
        if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int port_ = free_port();
    std::string dir_ = std::filesystem::temp_directory_path() / "vantor-redis-XXXXXX";
    bool made_ = mkdtemp(dir_.data()) != nullptr;
    pid_t pid_ = -1;
};

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (system("command -v redis-server >/dev/null") != 0)
            GTEST_SKIP() << "redis-server is not installed (Debian's redis-server)";
        ASSERT_TRUE(redis.start()) << "redis-server did not start on port " << redis.port();
    }
    DirectoryConfig config(int process, std::chrono::milliseconds lease = 3000ms) {
        return {.port = redis.port(), .process = process, .lease = lease, .backoff_min = 10ms, .backoff_max = 40ms};
    }
    Redis redis;
};

TEST_F(DirectoryTest, LeaseIsRenewedHeldAgainstOthersAndLost) {
    Directory first(config(1)), twin(config(1));
    auto start = Directory::Clock::now();
    ASSERT_EQ(first.acquire(start), Outcome::ok);
    EXPECT_EQ(twin.acquire(), Outcome::lost) << "a second boot of process 1";
    EXPECT_EQ(first.renew(start + 2900ms), Outcome::ok);
    EXPECT_EQ(first.renew(start + 5800ms), Outcome::ok);
    // Not renewed within the TTL by its own clock (a stop, a stall): lost, though Redis still has it.
    EXPECT_EQ(first.renew(start + 8800ms), Outcome::lost);
    EXPECT_EQ(first.acquire(), Outcome::lost) << "for good";

    // Expiry in Redis: the short lease's owner is no longer alive to others.
    Directory brief(config(2, 200ms)), other(config(3));
    ASSERT_EQ(brief.acquire(), Outcome::ok);
    ASSERT_EQ(brief.put_room("AAAA", {"t0"}), Outcome::ok);
    Whereabouts where;
    ASSERT_EQ(other.whereabouts("AAAA", where), Outcome::ok);
    EXPECT_TRUE(where.alive && where.owner == 2 && where.epoch == 1);
    for (int i = 0; i < 100 && where.alive; ++i) {
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(other.whereabouts("AAAA", where), Outcome::ok);
    }
    EXPECT_FALSE(where.alive);
    EXPECT_EQ(other.whereabouts("BBBB", where), Outcome::absent);
}

TEST_F(DirectoryTest, ExactlyOneOfTwoRacingProcessesTakesARoomOver) {
    Directory dead(config(1)), left(config(2)), right(config(3));
    ASSERT_EQ(left.acquire(), Outcome::ok);
    ASSERT_EQ(right.acquire(), Outcome::ok);
    ASSERT_EQ(dead.acquire(), Outcome::ok);
    const int rooms = 40;
    for (int i = 0; i < rooms; ++i) ASSERT_EQ(dead.put_room(std::to_string(i), {"a", "b"}), Outcome::ok);
    std::int64_t epoch = 0;
    EXPECT_EQ(left.take_over("0", 1, epoch), Outcome::lost) << "the owner's lease is alive";
    ASSERT_EQ(dead.release(), Outcome::ok);

    std::vector<Outcome> wins[2];
    auto race = [&](Directory& taker, std::vector<Outcome>& outcomes) {
        for (int i = 0; i < rooms; ++i) {
            std::int64_t next = 0;
            outcomes.push_back(taker.take_over(std::to_string(i), 1, next));
        }
    };
    std::thread a(race, std::ref(left), std::ref(wins[0])), b(race, std::ref(right), std::ref(wins[1]));
    a.join(), b.join();
    for (int i = 0; i < rooms; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(wins[0][i] == Outcome::ok, wins[1][i] == Outcome::ok);
        RoomRecord record;
        ASSERT_EQ(left.room(std::to_string(i), record), Outcome::ok);
        EXPECT_EQ(record.owner, wins[0][i] == Outcome::ok ? 2 : 3);
        EXPECT_EQ(record.epoch, 2);
        EXPECT_EQ(record.tokens, (std::vector<std::string>{"a", "b"}));
    }
    // The loser, and the dead owner come back, may no longer write to the room.
    Directory& loser = wins[0][0] == Outcome::ok ? right : left;
    EXPECT_EQ(loser.write_snapshot("0", "s"), Outcome::lost);
    EXPECT_EQ(dead.append_input("0", "i"), Outcome::lost);
    EXPECT_EQ(loser.take_over("none", 1, epoch), Outcome::absent);
}

TEST_F(DirectoryTest, JournalComesBackInOrderAndANewSnapshotTrimsIt) {
    Directory owner(config(1));
    ASSERT_EQ(owner.acquire(), Outcome::ok);
    Journal journal;
    ASSERT_EQ(owner.put_room("J", {"", "t1"}), Outcome::ok);
    const std::string binary("\0\xff\r\n", 4);
    ASSERT_EQ(owner.write_snapshot("J", "first" + binary), Outcome::ok);
    for (auto input : {"x", "y", "z"}) ASSERT_EQ(owner.append_input("J", input + binary), Outcome::ok);
    ASSERT_EQ(owner.journal("J", journal), Outcome::ok);
    EXPECT_EQ(journal.snapshot, "first" + binary);
    EXPECT_EQ(journal.inputs, (std::vector<std::string>{"x" + binary, "y" + binary, "z" + binary}));

    ASSERT_EQ(owner.write_snapshot("J", "second"), Outcome::ok);
    ASSERT_EQ(owner.append_input("J", "w"), Outcome::ok);
    ASSERT_EQ(owner.set_token("J", 0, "t0"), Outcome::ok);
    ASSERT_EQ(owner.journal("J", journal), Outcome::ok);
    EXPECT_EQ(journal.snapshot, "second");
    EXPECT_EQ(journal.inputs, std::vector<std::string>{"w"});
    RoomRecord record;
    ASSERT_EQ(owner.room("J", record), Outcome::ok);
    EXPECT_EQ(record.tokens, (std::vector<std::string>{"t0", "t1"}));

    Directory other(config(2));
    ASSERT_EQ(other.acquire(), Outcome::ok);
    EXPECT_EQ(other.put_room("J", {}), Outcome::lost) << "the code is taken";
    ASSERT_EQ(owner.close_room("J"), Outcome::ok);
    EXPECT_EQ(owner.journal("J", journal), Outcome::absent);
}

TEST_F(DirectoryTest, ReconnectsAndGoesOnAfterRedisRestarts) {
    Directory owner(config(1));
    ASSERT_EQ(owner.acquire(), Outcome::ok);
    redis.stop();
    EXPECT_EQ(owner.renew(), Outcome::unreachable);
    EXPECT_FALSE(owner.connected());
    EXPECT_FALSE(owner.error().empty());
    ASSERT_TRUE(redis.start());
    // Redis lost everything: the lease, renewed within its TTL, is taken again, and the room written anew.
    Outcome renewed = Outcome::unreachable;
    for (int i = 0; i < 100 && renewed == Outcome::unreachable; ++i) {
        std::this_thread::sleep_for(20ms);
        renewed = owner.renew();
    }
    EXPECT_EQ(renewed, Outcome::ok);
    EXPECT_TRUE(owner.connected());
    ASSERT_EQ(owner.put_room("K", {}), Outcome::ok);
    EXPECT_EQ(owner.write_snapshot("K", "s"), Outcome::ok);
}

// A Join for a room whose record is still on its way to Redis finds it when it lands; one for no room
// at all is answered so only after the cluster has looked a few times.
TEST_F(DirectoryTest, AFindWaitsForARecordOnItsWay) {
    Directory owner(config(1));
    ASSERT_EQ(owner.acquire(), Outcome::ok);
    ASSERT_EQ(owner.advertise("ws://127.0.0.1:1"), Outcome::ok);
    RedisCluster cluster({config(2), "ws://127.0.0.1:2", {}, 100});
    std::string why;
    ASSERT_TRUE(cluster.start(2s, &why)) << why;
    std::mutex lock;
    std::condition_variable heard;
    std::map<uint64_t, std::pair<Found::Kind, std::chrono::steady_clock::time_point>> answers;
    int lobby = cluster.attach([&](ClusterNews news) {
        std::lock_guard hold(lock);
        answers[news.conn] = {news.where.kind, std::chrono::steady_clock::now()};
        heard.notify_all();
    });
    auto asked = std::chrono::steady_clock::now();
    cluster.find(lobby, 1, "AAAA-AAAA");
    cluster.find(lobby, 2, "BBBB-BBBB");
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(owner.put_room("AAAA-AAAA", {"t0"}), Outcome::ok);
    {
        std::unique_lock hold(lock);
        ASSERT_TRUE(heard.wait_for(hold, 5s, [&] { return answers.size() == 2; }));
    }
    cluster.detach(lobby);
    EXPECT_EQ(answers[1].first, Found::moved);
    EXPECT_EQ(answers[2].first, Found::none);
    EXPECT_GE(answers[2].second - asked, 400ms);
}

TEST(Backoff, DoublesToItsBoundAndStartsAgainAfterASuccess) {
    Backoff backoff(100ms, 350ms);
    Backoff::Clock::time_point t{};
    std::vector<std::chrono::milliseconds> waits;
    for (int i = 0; i < 4; ++i) backoff.failed(t), waits.push_back(backoff.wait());
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 350ms, 350ms}));
    EXPECT_FALSE(backoff.due(t + 349ms));
    backoff.succeeded();
    EXPECT_TRUE(backoff.due(t));
    backoff.failed(t);
    EXPECT_EQ(backoff.wait(), 100ms);
}

}  // namespace
}  // namespace online
