// The driver as an online client: the game follows a room's, through the desktop game's session over
// the headless window. The script's presses and releases go to the room; its waits pump the session.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "online/session.h"
#include "platform/window.h"

namespace sim {

constexpr int kExitLost = 7;  // the room refused us, or the connection was lost

struct OnlineOptions {
    enum class Role { kNone, kCreate, kJoin, kWatch };
    Role role = Role::kNone;
    std::string where;         // ws://HOST:PORT to create, CODE@HOST:PORT to join or watch
    std::string token;         // a seat's token in hex, to take that seat back
    long long timeout_s = 60;  // how long any one wait for the room may last
    bool timeout_given = false;
};

// What the options name, checked before anything opens.
struct Target {
    OnlineOptions::Role role = OnlineOptions::Role::kNone;
    online::Address server;
    online::RoomCode code;
    online::Token token{};
};
// False, with the reason, for a malformed address, code or token.
bool resolve_online(const OnlineOptions& options, Target* target, std::string* why);

// True when argv[*i] is an online option; then its value is consumed and *i moved past it. Throws
// ScriptError for a missing value.
bool parse_online_option(int argc, char** argv, int* i, OnlineOptions* options);

// Rung by the session's network thread; the driver's thread sleeps on it between pumps.
class Doorbell {
public:
    void ring();
    // Until a ring or the time is up.
    void wait(std::chrono::milliseconds at_most);

private:
    std::mutex lock_;
    std::condition_variable bell_;
    uint64_t rings_ = 0, heard_ = 0;
};

class Follower {
public:
    Follower(plat::Window* window, std::chrono::seconds timeout) : window_(window), timeout_(timeout) {}
    // Connects, prints the room's code once welcomed, and waits for the room's first snapshot. False,
    // with the reason, on a bad address, a refusal, a lost connection or no snapshot in time.
    bool start(const Target& target, std::string* why);
    // Sends the player's press or release at (x, y) to the room.
    void send(uint32_t message, int32_t lparam);
    // Pumps until done() is true (true then), or the connection is lost, or the time runs out (false).
    // done() is asked after every pump, with the game as the room's frames have left it.
    bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // The longest wait for the room that a command may make.
    std::chrono::milliseconds timeout() const { return timeout_; }
    // The room's tick the game is at.
    uint32_t tick() const { return session_->tick(); }
    bool lost() const { return !session_ || session_->lost(); }
    std::string reason() const { return session_ ? session_->reason() : reason_; }

private:
    void pump();

    plat::Window* window_;
    std::chrono::milliseconds timeout_;
    Doorbell bell_;
    std::unique_ptr<online::Session> session_;
    bool announced_ = false;
    std::string reason_;
};

}  // namespace sim
