// The driver as an online client: options, the session's pump, and the waits between pumps.
#include "online.h"

#include <algorithm>
#include <iostream>
#include <string>

#include "app/app.h"
#include "online/seats.h"
#include "parse.h"

namespace sim {

bool parse_online_option(int argc, char** argv, int* i, OnlineOptions* options) {
    std::string arg = argv[*i];
    using Role = OnlineOptions::Role;
    Role role = arg == "--online"  ? Role::kCreate
                : arg == "--join"  ? Role::kJoin
                : arg == "--watch" ? Role::kWatch
                                   : Role::kNone;
    if (role != Role::kNone) {
        if (options->role != Role::kNone) throw ScriptError{"one of --online, --join and --watch, once"};
        options->role = role;
        options->where = value_of(argc, argv, i);
    } else if (arg == "--token") {
        options->token = value_of(argc, argv, i);
    } else if (arg == "--timeout") {
        options->timeout_s = parse_int(value_of(argc, argv, i), 1, 86400, "timeout");
        options->timeout_given = true;
    } else {
        return false;
    }
    return true;
}

void Doorbell::ring() {
    std::lock_guard<std::mutex> hold(lock_);
    rings_++;
    bell_.notify_all();
}

void Doorbell::wait(std::chrono::milliseconds at_most) {
    std::unique_lock<std::mutex> hold(lock_);
    bell_.wait_for(hold, at_most, [&] { return rings_ != heard_; });
    heard_ = rings_;
}

bool resolve_online(const OnlineOptions& options, Target* target, std::string* why) {
    using Role = OnlineOptions::Role;
    std::string server = options.where, code;
    if (options.role != Role::kCreate) {
        size_t at = options.where.find('@');
        if (at == std::string::npos) return *why = "not CODE@HOST:PORT: " + options.where, false;
        code = options.where.substr(0, at);
        server = options.where.substr(at + 1);
    }
    target->role = options.role;
    if (!online::parse_address(server, &target->server, why)) return false;
    if (options.role != Role::kCreate && !online::parse_code(code, &target->code))
        return *why = "not a room code (XXXX-XXXX): " + code, false;
    if (!options.token.empty() && (options.role != Role::kJoin || !online::parse_token(options.token, &target->token)))
        return *why = "--token takes a seat's 32 hexadecimal digits, with --join", false;
    return true;
}

bool Follower::start(const Target& target, std::string* why) {
    using Role = OnlineOptions::Role;
    plat::Window* window = window_;
    auto deliver = [window](uint32_t message, uint32_t wParam, int32_t lParam) {
        feed(window, message, wParam, lParam);
    };
    auto wake = [this] { bell_.ring(); };
    if (target.role == Role::kCreate) session_ = online::Session::create(target.server, deliver, wake);
    else if (target.role == Role::kJoin)
        session_ = online::Session::join(target.server, target.code, target.token, deliver, wake);
    else session_ = online::Session::watch(target.server, target.code, deliver, wake);
    // A script sees a drop at once, and ends: it does not try again by itself as a player's game does.
    session_->rejoin_by(nullptr);
    if (!pump_until([&] { return session_->playing(); }, timeout_)) {
        *why = lost() ? reason() : "the room sent no game within " + std::to_string(timeout_.count() / 1000) + " s";
        return false;
    }
    return true;
}

void Follower::send(uint32_t message, int32_t lparam) { session_->send_input(message, 0, lparam); }

void Follower::pump() {
    uint32_t snapshots = session_->snapshots();
    session_->pump();
    if (session_->welcomed() && !announced_) {
        announced_ = true;
        std::cout << "code " << online::show_code(session_->code()) << std::endl;
    }
    // The room's picture came without this game's room and colour: add them, as the window does.
    if (session_->welcomed() && session_->snapshots() != snapshots) show_room(*session_);
}

bool Follower::pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pump();
        if (session_->lost()) return false;
        if (done()) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        // At least once a second, as a session asks, even if the bell stays silent.
        bell_.wait(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(end - now),
                            std::chrono::milliseconds(1000)));
    }
}

}  // namespace sim
