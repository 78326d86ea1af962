// The cluster's thread: see cluster_redis.h.
#include "online/cluster_redis.h"

namespace online {
namespace {

constexpr auto kRenewal = std::chrono::seconds(1);
// The lease is taken as over this long before its TTL runs out by our clock, so that the rooms stop
// before another process may take them.
constexpr auto kMargin = std::chrono::milliseconds(250);
// Jobs done between two looks at the lease's clock.
constexpr int kBatch = 64;
// A Join for a room no record names yet is looked for again this often, and so many times in all,
// before the player is told there is no such room: the room may have been made a moment ago on a
// process whose record of it is still on its way to Redis.
constexpr auto kLookAgain = std::chrono::milliseconds(250);
constexpr int kLooks = 3;

int64_t millis(RedisCluster::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

Found mine() {
    Found found;
    found.kind = Found::mine;
    return found;
}

}  // namespace

RedisCluster::RedisCluster(ClusterConfig config)
    : config_(std::move(config)), directory_(std::make_unique<Directory>(config_.directory)) {}

void RedisCluster::stop() {
    {
        std::lock_guard hold(jobs_lock_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (until_ != 0) directory_->release();
    until_ = 0;
}

void RedisCluster::log(const std::string& line) {
    if (config_.log) config_.log("cluster: " + line);
}

// One try at the lease, and the address with it.
bool RedisCluster::lease(Clock::time_point now) {
    if (directory_->acquire(now) != Outcome::ok) return false;
    directory_->advertise(config_.advertise);
    until_ = millis(now + config_.directory.lease - kMargin);
    generation_++;
    next_renewal_ = now + kRenewal;
    return true;
}

bool RedisCluster::start(std::chrono::milliseconds wait, std::string* why) {
    auto end = Clock::now() + wait;
    while (!lease(Clock::now())) {
        if (Clock::now() >= end) {
            if (why) {
                *why = "cannot take the lease of process " + std::to_string(config_.directory.process) + " at " +
                       config_.directory.host + ":" + std::to_string(config_.directory.port);
                std::string error = directory_->error();
                *why += error.empty() ? ": another process holds it" : ": " + error;
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    log("process " + std::to_string(config_.directory.process) + " holds its lease, boot " + directory_->boot());
    thread_ = std::thread([this] { run(); });
    return true;
}

uint64_t RedisCluster::serving() const { return millis(Clock::now()) < until_ ? generation_.load() : 0; }

RedisCluster::Counts RedisCluster::counts() const {
    std::lock_guard hold(jobs_lock_);
    return counts_;
}

int RedisCluster::attach(Tell tell) {
    std::lock_guard hold(tell_lock_);
    lobbies_[next_lobby_] = std::move(tell);
    return next_lobby_++;
}

void RedisCluster::detach(int lobby) {
    std::lock_guard hold(tell_lock_);
    lobbies_.erase(lobby);
}

void RedisCluster::tell(int lobby, ClusterNews news) {
    std::lock_guard hold(tell_lock_);
    auto it = lobbies_.find(lobby);
    if (it != lobbies_.end()) it->second(std::move(news));
}

void RedisCluster::push(Job job) {
    {
        std::lock_guard hold(jobs_lock_);
        if (jobs_.size() >= config_.max_jobs && job.kind == Job::frame) {
            counts_.dropped++;
            return;
        }
        // A room's record and a player's lookup go before the journal's writes waiting: a player may
        // be on their way to another process with the room's code already.
        if (job.kind == Job::created || job.kind == Job::find)
            jobs_.insert(jobs_.begin() + static_cast<std::ptrdiff_t>(urgent_++), std::move(job));
        else jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void RedisCluster::created(int lobby, const std::string& code, const std::vector<std::string>& tokens) {
    push({Job::created, lobby, 0, code, 0, {}, tokens});
}
void RedisCluster::token(const std::string& code, int seat, const std::string& token) {
    push({Job::token, 0, 0, code, seat, token, {}});
}
void RedisCluster::snapshot(const std::string& code, std::string bytes) {
    push({Job::snapshot, 0, 0, code, 0, std::move(bytes), {}});
}
void RedisCluster::frame(const std::string& code, std::string bytes) {
    push({Job::frame, 0, 0, code, 0, std::move(bytes), {}});
}
void RedisCluster::closed(const std::string& code) { push({Job::closed, 0, 0, code, 0, {}, {}}); }
void RedisCluster::find(int lobby, uint64_t conn, const std::string& code) {
    push({Job::find, lobby, conn, code, 0, {}, {}});
}

void RedisCluster::run() {
    std::unique_lock hold(jobs_lock_);
    while (!ending_) {
        Clock::time_point wake_at = later_.empty() ? next_renewal_ : std::min(next_renewal_, later_.front().first);
        wake_.wait_until(hold, wake_at, [this] { return ending_ || !jobs_.empty(); });
        if (ending_) break;
        for (Clock::time_point now = Clock::now(); !later_.empty() && later_.front().first <= now; later_.pop_front())
            jobs_.insert(jobs_.begin() + static_cast<std::ptrdiff_t>(urgent_++), std::move(later_.front().second));
        for (int i = 0; i < kBatch && !jobs_.empty() && Clock::now() < next_renewal_; i++) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            if (urgent_ > 0) urgent_--;
            hold.unlock();
            work(job);
            hold.lock();
        }
        if (Clock::now() < next_renewal_) continue;
        hold.unlock();
        renew(Clock::now());
        ask_snapshots();
        hold.lock();
    }
}

// Renews the lease. Lost, the rooms are given up (the lobbies see serving() change) and a new boot
// takes the lease again, a second later at the soonest, to serve other rooms.
void RedisCluster::renew(Clock::time_point now) {
    next_renewal_ = now + kRenewal;
    if (until_ == 0) {
        if (lease(now))
            log("process " + std::to_string(config_.directory.process) + " serves again, boot " + directory_->boot());
        return;
    }
    // Past its time by our clock (a process stopped, or Redis away too long), the lease is over even if
    // Redis would still renew it: the lobbies have given its rooms up already.
    Outcome outcome = millis(now) >= until_ ? Outcome::lost : directory_->renew(now);
    note(outcome);
    if (outcome == Outcome::ok) until_ = millis(now + config_.directory.lease - kMargin);
    if (outcome != Outcome::lost) return;
    until_ = 0;
    directory_->release();
    log("process " + std::to_string(config_.directory.process) + " lost its lease: its " +
        std::to_string(rooms_.size()) + " rooms are given up to the cluster");
    rooms_.clear();
    directory_ = std::make_unique<Directory>(config_.directory);
}

// Redis's answers, for the log: an outage and its end, once each, with what was dropped meanwhile.
void RedisCluster::note(Outcome outcome) {
    if (outcome == Outcome::unreachable && reachable_) {
        reachable_ = false;
        dropped_since_ = 0;
        log("Redis does not answer (" + directory_->error() + "): journal writes are dropped until it does");
    } else if (outcome != Outcome::unreachable && !reachable_) {
        reachable_ = true;
        directory_->advertise(config_.advertise);  // lost with the rest if Redis restarted empty
        log("Redis answers again; " + std::to_string(dropped_since_) +
            " journal writes were dropped, and the rooms write a snapshot");
    }
}

void RedisCluster::ask_snapshots() {
    if (!reachable_) return;
    for (auto& [code, kept] : rooms_) {
        if (!kept.stale || kept.asked) continue;
        kept.asked = true;
        tell(kept.lobby, {ClusterNews::want_snapshot, 0, code, {}});
    }
}

// After a write: a lost one leaves the journal with a gap, which a snapshot closes. A room whose record
// Redis no longer has (restarted without its data) is recorded again first.
void RedisCluster::write(Kept& kept, const std::string& code, Outcome outcome) {
    note(outcome);
    if (outcome == Outcome::ok) return;
    if (!kept.stale) kept.stale = true, kept.asked = false;
    if (outcome == Outcome::unreachable) {
        std::lock_guard hold(jobs_lock_);
        counts_.dropped++, dropped_since_++;
        return;
    }
    RoomRecord record;
    if (directory_->room(code, record) == Outcome::absent) directory_->put_room(code, kept.tokens);
}

void RedisCluster::snapshot_of(const std::string& code, const std::string& bytes) {
    auto it = rooms_.find(code);
    if (it == rooms_.end()) return;
    Kept& kept = it->second;
    Outcome outcome = directory_->write_snapshot(code, bytes);
    if (outcome == Outcome::lost) {
        write(kept, code, outcome);
        outcome = directory_->write_snapshot(code, bytes);
    }
    write(kept, code, outcome);
    if (outcome == Outcome::ok) kept.stale = false;
}

void RedisCluster::work(Job& job) {
    auto it = rooms_.find(job.code);
    switch (job.kind) {
        case Job::created: {
            Kept& kept = rooms_[job.code] = Kept{job.lobby, job.tokens};
            Outcome outcome = directory_->put_room(job.code, job.tokens);
            if (outcome == Outcome::lost)
                log("room " + job.code + " is another process's too: its code was made twice");
            return write(kept, job.code, outcome == Outcome::lost ? Outcome::ok : outcome);
        }
        case Job::token:
            if (it == rooms_.end()) return;
            if (static_cast<size_t>(job.seat) >= it->second.tokens.size()) it->second.tokens.resize(job.seat + 1);
            it->second.tokens[static_cast<size_t>(job.seat)] = job.bytes;
            return write(it->second, job.code, directory_->set_token(job.code, job.seat, job.bytes));
        case Job::snapshot: return snapshot_of(job.code, job.bytes);
        case Job::frame:
            if (it == rooms_.end()) return;
            if (it->second.stale) {
                std::lock_guard hold(jobs_lock_);
                counts_.dropped++, dropped_since_++;
                return;
            }
            return write(it->second, job.code, directory_->append_input(job.code, job.bytes));
        case Job::closed:
            if (it == rooms_.end()) return;
            rooms_.erase(it);
            note(directory_->close_room(job.code));
            return;
        case Job::find: {
            Found found = look(job.lobby, job.code);
            if (found.kind == Found::none && ++job.seat < kLooks) {
                std::lock_guard hold(jobs_lock_);
                later_.emplace_back(Clock::now() + kLookAgain, std::move(job));
                return;
            }
            return tell(job.lobby, {ClusterNews::found, job.conn, job.code, std::move(found)});
        }
    }
}

// Where a room is: its owner's address while its lease lives, else the room itself, taken over.
Found RedisCluster::look(int lobby, const std::string& code) {
    Found found;
    for (int tries = 0; tries < 2; tries++) {
        Whereabouts where;
        Outcome outcome = directory_->whereabouts(code, where);
        note(outcome);
        if (outcome == Outcome::absent) return found;
        if (outcome != Outcome::ok) break;
        if (!where.alive) {
            found = take(lobby, code, where);
            if (found.kind != Found::unreachable || tries > 0) return found;
            continue;  // another process won it: look again
        }
        if (where.owner == config_.directory.process && rooms_.count(code)) return mine();
        if (directory_->address(where.owner, found.address) != Outcome::ok) break;
        found.kind = Found::moved;
        std::lock_guard hold(jobs_lock_);
        counts_.moves++;
        return found;
    }
    found.kind = Found::unreachable;
    return found;
}

Found RedisCluster::take(int lobby, const std::string& code, const Whereabouts& where) {
    Found found;
    found.kind = Found::unreachable;
    int64_t now_epoch = 0;
    if (until_ == 0 || directory_->take_over(code, where.epoch, now_epoch) != Outcome::ok) return found;
    RoomRecord record;
    Journal journal;
    if (directory_->room(code, record) != Outcome::ok || directory_->journal(code, journal) != Outcome::ok)
        return found;
    found.kind = Found::taken;
    found.tokens = record.tokens;
    found.snapshot = std::move(journal.snapshot);
    found.frames = std::move(journal.inputs);
    rooms_[code] = Kept{lobby, record.tokens};
    log("room " + code + " taken over from process " + std::to_string(where.owner) + " at epoch " +
        std::to_string(now_epoch) + ": a snapshot and " + std::to_string(found.frames.size()) + " frames");
    std::lock_guard hold(jobs_lock_);
    counts_.takeovers++;
    return found;
}

}  // namespace online
