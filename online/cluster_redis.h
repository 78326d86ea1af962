// The cluster on Redis: the lobby's ClusterPort (cluster.h) over the directory (directory.h), with a
// thread of its own that renews the lease every second and does the lobbies' writes and lookups in
// the order they came, so that no Redis round trip ever runs on a tick thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "online/cluster.h"
#include "online/directory.h"

namespace online {

struct ClusterConfig {
    DirectoryConfig directory;
    std::string advertise;  // where players reach this process, as "moved" sends them: ws://HOST:PORT
    std::function<void(const std::string&)> log;  // called on the cluster's thread
    size_t max_jobs = 100'000;                    // waiting writes beyond which frames are dropped
};

class RedisCluster : public ClusterPort {
public:
    using Clock = std::chrono::steady_clock;
    explicit RedisCluster(ClusterConfig config);
    // Gives the lease up, so that the rooms are taken over at their players' next Join, and ends the
    // thread: no lobby hears from it after. The room records stay: the rooms outlive the process.
    void stop();
    ~RedisCluster() override { stop(); }

    // Takes the lease, trying for up to `wait` (the last boot's may still hold it), then starts the
    // thread. False with why.
    bool start(std::chrono::milliseconds wait, std::string* why);
    void advertise(std::string address) { config_.advertise = std::move(address); }

    struct Counts {
        uint64_t dropped = 0;    // journal writes not made: Redis unreachable, or too many waiting
        uint64_t takeovers = 0;  // rooms taken over from a dead process
        uint64_t moves = 0;      // Joins sent to another process
    };
    Counts counts() const;

    int attach(Tell tell) override;
    void detach(int lobby) override;
    uint64_t serving() const override;
    void created(int lobby, const std::string& code, const std::vector<std::string>& tokens) override;
    void token(const std::string& code, int seat, const std::string& token) override;
    void snapshot(const std::string& code, std::string bytes) override;
    void frame(const std::string& code, std::string bytes) override;
    void closed(const std::string& code) override;
    void find(int lobby, uint64_t conn, const std::string& code) override;
    uint64_t dropped() const override { return counts().dropped; }

private:
    struct Job {
        enum Kind { created, token, snapshot, frame, closed, find } kind = frame;
        int lobby = 0;
        uint64_t conn = 0;
        std::string code;
        int seat = 0;  // a token's seat; the lookups a find has made
        std::string bytes;
        std::vector<std::string> tokens;
    };
    // What the thread keeps of each room this process owns: enough to write its record again.
    struct Kept {
        int lobby = 0;
        std::vector<std::string> tokens;
        bool stale = false;  // a write was lost: the journal wants a snapshot before more frames
        bool asked = false;  // and the room's lobby has been asked for it
    };
    void push(Job job);
    void run();
    bool lease(Clock::time_point now);
    void renew(Clock::time_point now);
    void work(Job& job);
    void write(Kept& kept, const std::string& code, Outcome outcome);
    void snapshot_of(const std::string& code, const std::string& bytes);
    Found look(int lobby, const std::string& code);
    Found take(int lobby, const std::string& code, const Whereabouts& where);
    void ask_snapshots();
    void tell(int lobby, ClusterNews news);
    void note(Outcome outcome);
    void log(const std::string& line);

    ClusterConfig config_;
    std::unique_ptr<Directory> directory_;  // a new one, with a new boot, after a lost lease
    std::atomic<uint64_t> generation_{0};
    std::atomic<int64_t> until_{0};  // serving until then, in ms of Clock, by our own clock
    Clock::time_point next_renewal_{};

    mutable std::mutex jobs_lock_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    size_t urgent_ = 0;  // the records and lookups at the front of jobs_
    std::deque<std::pair<Clock::time_point, Job>> later_;  // lookups to try again, by when
    bool ending_ = false;
    Counts counts_;  // under jobs_lock_

    std::mutex tell_lock_;
    std::map<int, Tell> lobbies_;
    int next_lobby_ = 1;

    std::unordered_map<std::string, Kept> rooms_;  // the thread's own
    bool reachable_ = true;
    uint64_t dropped_since_ = 0;  // in the present outage
    std::thread thread_;
};

}  // namespace online
