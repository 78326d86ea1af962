// The Redis side of a cluster of servers: each process's lease, a record per room, a room's journal,
// the takeover of a room whose owner died, and where a room lives (docs/ONLINE.md, More than one
// process). The server reaches it through RedisCluster (cluster_redis.h), on a thread of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct redisContext;
struct redisReply;

namespace online {

struct DirectoryConfig {
    std::string host = "127.0.0.1";
    int port = 6379;
    int process = 0;                                                // N of vantor:proc:N, unique in the cluster
    std::chrono::milliseconds lease{3000};                          // renewed every second by the caller
    std::chrono::milliseconds timeout{500};                         // of a connect and of each command
    std::chrono::milliseconds backoff_min{100}, backoff_max{2000};  // between reconnects
};

// What a call came to. `lost` is for the lease (not ours, or ours no more) and for the writes of a
// room that another process owns now; `unreachable` is Redis down or answering nonsense.
enum class Outcome { ok, lost, absent, unreachable };
const char* to_string(Outcome outcome);

struct RoomRecord {
    int owner = 0;                    // the process that serves the room
    std::string boot;                 // that process's boot id when it took the room
    std::int64_t epoch = 0;           // raised by each takeover
    std::vector<std::string> tokens;  // by seat; an empty one is a free seat
};

struct Journal {
    std::string snapshot;             // the newest, as the room wrote it
    std::vector<std::string> inputs;  // written since it, in their order
};

struct Whereabouts {
    int owner = 0;
    std::int64_t epoch = 0;
    bool alive = false;  // the owner's lease still holds the boot id the room records
};

// Waits between reconnects: doubles from min to max, and starts again from min after a success.
// The time is passed in.
class Backoff {
public:
    using Clock = std::chrono::steady_clock;
    Backoff(std::chrono::milliseconds min, std::chrono::milliseconds max) : min_(min), max_(max) {}
    bool due(Clock::time_point now) const { return now >= next_; }
    void failed(Clock::time_point now);
    void succeeded() { wait_ = {}, next_ = {}; }
    std::chrono::milliseconds wait() const { return wait_; }

private:
    std::chrono::milliseconds min_, max_, wait_{};
    Clock::time_point next_{};
};

// One connection to Redis, shared by the threads that call it: each call takes a lock and blocks for
// at most the timeout (twice, if it connects first). Keep it off the rooms' tick thread. While Redis
// is down, calls answer `unreachable` at once until the backoff lets the next one try to connect.
// The keys are vantor:proc:N (the lease: the boot id, with a TTL), vantor:room:CODE (a hash: owner,
// boot, epoch, seat:I), vantor:room:CODE:snap (the snapshot) and vantor:room:CODE:inputs (a stream).
// Writes to a room are fenced: they are refused with `lost` unless the record names this boot.
class Directory {
public:
    using Clock = std::chrono::steady_clock;
    explicit Directory(DirectoryConfig config);
    ~Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    const std::string& boot() const { return boot_; }  // random, new with each Directory
    int process() const { return config_.process; }
    bool connected() const;
    std::string error() const;  // what went wrong last, for the log

    // The lease. acquire() takes vantor:proc:N, or answers `lost` if another boot holds it (this
    // process's last boot, within its TTL: try again a little later). renew() once a second: `lost`
    // once the lease is gone (expired, taken, or not renewed within its TTL by this process's own
    // clock), after which this process must stop serving its rooms for good, and the writes below
    // are refused. release() gives the lease up, for good too.
    Outcome acquire(Clock::time_point now = Clock::now());
    Outcome renew(Clock::time_point now = Clock::now());
    Outcome release();

    // A new room owned by this process, epoch 1; `lost` if the code is taken. Writing it again with
    // this boot (after Redis lost its data) keeps nothing of the old record but the epoch.
    Outcome put_room(const std::string& code, const std::vector<std::string>& tokens);
    Outcome set_token(const std::string& code, int seat, const std::string& token);
    Outcome room(const std::string& code, RoomRecord& record);
    Outcome close_room(const std::string& code);  // the record and the journal

    // The journal: a new snapshot drops the inputs before it.
    Outcome write_snapshot(const std::string& code, const std::string& snapshot);
    Outcome append_input(const std::string& code, const std::string& input);
    Outcome journal(const std::string& code, Journal& journal);

    // The address players reach this process at, vantor:addr:N, written with each lease; and another's.
    Outcome advertise(const std::string& address);
    Outcome address(int process, std::string& address);

    // Where a room lives, for a Join that reached the wrong process.
    Outcome whereabouts(const std::string& code, Whereabouts& where);
    // Makes this process the owner if the room is still at `epoch` and its owner's lease is gone:
    // `ok` with the new epoch; `lost` if another won, or the owner lives.
    Outcome take_over(const std::string& code, std::int64_t epoch, std::int64_t& new_epoch);

private:
    using Reply = std::unique_ptr<redisReply, void (*)(void*)>;
    Reply command(const std::vector<std::string>& args);
    Reply script(const char* lua, const std::vector<std::string>& keys, const std::vector<std::string>& args);
    Outcome fenced(const char* lua, const std::string& code, std::vector<std::string> args);
    bool connect(Clock::time_point now);
    void drop(Clock::time_point now);

    DirectoryConfig config_;
    std::string boot_;
    std::string lease_key_;
    mutable std::mutex mutex_;
    redisContext* context_ = nullptr;
    Backoff backoff_;
    Clock::time_point renewed_{};  // when the last renewal that held was sent
    bool leased_ = false;
    bool spent_ = false;  // lost or released: never taken again with this boot
    std::string error_;
};

}  // namespace online
