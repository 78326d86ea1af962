// Online play on the loopback for the tests: a server on a thread of its own, headless players each
// with a game of their own, and the scripted person who plays a side.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "online/loopback.h"
#include "online/server.h"
#include "online/session.h"
#include "replay/game.h"

namespace online_test {

// The front end's hooks, as vantor-server has them.
online::GameHooks hooks();

// Moves the process into an empty folder, so that the rooms list the built-in maps alone.
void work_in_empty_folder();

// A server on 127.0.0.1, on a free port, serving on a thread of its own until destroyed.
class LocalServer {
public:
    explicit LocalServer(online::ServerOptions options = {});
    ~LocalServer();
    online::Address address() const;
    online::Metrics metrics() const { return server_->metrics(); }
    // The log's lines so far.
    std::vector<std::string> log() const;
    // Whether a line holding part is logged within a few seconds.
    bool logged(const std::string& part) const;

private:
    std::unique_ptr<online::Server> server_;
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// Sessions ring it when something arrives; pump loops wait on it.
class Doorbell {
public:
    void ring() {
        std::lock_guard<std::mutex> hold(lock_);
        rings_++;
        bell_.notify_all();
    }
    void wait(std::chrono::milliseconds at_most) {
        std::unique_lock<std::mutex> hold(lock_);
        bell_.wait_for(hold, at_most, [&] { return rings_ != heard_; });
        heard_ = rings_;
    }

private:
    std::mutex lock_;
    std::condition_variable bell_;
    uint64_t rings_ = 0, heard_ = 0;
};

// A headless player: a game of its own with its window open, and a session once it connects.
class Player {
public:
    explicit Player(Doorbell* bell = nullptr);
    ~Player();
    void create(const online::Address& server);
    void join(const online::Address& server, online::RoomCode code, const online::Token& token = {});
    // The same on the loopback, from the address.
    void create(online::Loopback& loop, const std::string& address = "127.0.0.1");
    void join(online::Loopback& loop, online::RoomCode code, const online::Token& token = {},
              const std::string& address = "127.0.0.1");
    void watch(online::Loopback& loop, online::RoomCode code);
    // The session rejoins over the loopback from the address, by the loopback's clock, when its
    // connection drops.
    void rejoin_over(online::Loopback& loop, const std::string& address);
    // The connection closes abruptly, as when the program is killed.
    void drop() { session_.reset(); }
    void pump();
    // A press and a release, as the player's mouse sends them.
    void click(int x, int y);
    void key(uint32_t code) { session_->send_input(plat::WM_KEYDOWN, code, 0); }
    // Whether this player's game has been fed as many clicks, from anyone, as this player sent: while
    // no one else clicks, whether its own have come back from the room.
    bool clicks_back() const { return releases_seen_ >= clicks_sent_; }
    online::Session& session() { return *session_; }
    bool connected() const { return session_ != nullptr; }
    // Runs f with this player's game entered.
    template <typename F>
    auto in(F f) {
        return game_.in(f);
    }
    uint64_t hash();

private:
    Doorbell* bell_;
    replay::Game game_;
    plat::Window* window_ = nullptr;
    std::unique_ptr<online::Session> session_;
    uint64_t clicks_sent_ = 0, releases_seen_ = 0;

    replay::Deliver deliver();
};

// Pumps the players, each with its script, until done or the time is up; false then.
bool pump_until(const std::vector<Player*>& players, Doorbell& bell, const std::function<bool()>& done,
                std::chrono::milliseconds limit, const std::function<void()>& script = {});

// The same on the loopback: a tick of the clock at a time, until done or so many ms have passed.
bool run_until(online::Loopback& loop, const std::vector<Player*>& players, const std::function<bool()>& done,
               online::Millis limit, const std::function<void()>& script = {});

// The clicks a person of the side would make now in its turn, with the thread's current game: a
// loaded launcher (unless it is selected already), the dial and the power bar towards the nearest unit
// of another side, and Fire. False when the side has no launcher a click can select.
bool plan_turn(int side, std::vector<std::pair<int, int>>* clicks);

// A scripted person: in its side's turn it clicks a loaded launcher, aims on the dial and the power
// bar at the nearest unit of another side, and fires. Turns played, counted when the turn moves on.
// It takes a moment over each turn, as a person would: at the fastest clock four of them would
// otherwise send more inputs than the server lets through.
class Person {
public:
    void act(Player& player);
    int turns() const { return turns_; }

private:
    bool fired_ = false;
    uint32_t fired_at_ = 0;
    std::chrono::steady_clock::time_point fired_time_;
    bool waiting_ = false;  // the turn has come; the person looks at the map a moment first
    std::chrono::steady_clock::time_point turn_came_;
    int turns_ = 0;
};

}  // namespace online_test
