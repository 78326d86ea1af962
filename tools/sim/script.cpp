// The script commands: each line becomes window messages to the game or a look at its state.
#include "script.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "model/globals.h"
#include "online.h"
#include "parse.h"
#include "platform/bmp.h"
#include "platform/null.h"
#include "state.h"

namespace sim {

namespace {

using Args = std::vector<std::string>;

class Runner {
public:
    Runner(plat::Window* window, Follower* follower) : window_(window), follower_(follower) {}
    void run(const std::string& command, const Args& args);

private:
    void send(uint32_t message, uint32_t wparam, int32_t lparam) { feed(window_, message, wparam, lparam); }
    void tick() { send(plat::WM_TIMER, 1, 0); }
    void mouse(const Args& args, bool press, bool release);
    void pixel(const Args& args);
    void screenshot(const Args& args);
    void until(const Args& args);
    void ticks(long long n);
    void wait(const Args& args);
    // Pumps the room's game until done; a lost connection ends the script.
    bool follow(const std::function<bool()>& done, std::chrono::milliseconds limit);
    plat::Bitmap* client() const;

    plat::Window* window_;
    Follower* follower_;
};

void expect_args(const Args& args, size_t lo, size_t hi, const char* usage) {
    if (args.size() < lo || args.size() > hi) throw ScriptError{std::string("usage: ") + usage};
}

plat::Bitmap* Runner::client() const {
    plat::Surface* surface = plat::get_window_surface(window_);
    return surface ? surface->bitmap : nullptr;
}

// Client coordinates as the window reports them: 16 bits each, so a point left of or above the
// client area (a drag that leaves the window) is possible too.
void Runner::mouse(const Args& args, bool press, bool release) {
    expect_args(args, 2, 2, "down|up|click X Y");
    int x = static_cast<int>(parse_int(args[0], -32768, 65535, "x"));
    int y = static_cast<int>(parse_int(args[1], -32768, 65535, "y"));
    int32_t lparam = plat::make_lparam(x, y);
    if (follower_) {
        if (press) follower_->send(plat::WM_LBUTTONDOWN, lparam);
        if (release) follower_->send(plat::WM_LBUTTONUP, lparam);
        return;
    }
    if (press) send(plat::WM_LBUTTONDOWN, 0, lparam);
    if (release) send(plat::WM_LBUTTONUP, 0, lparam);
}

void Runner::pixel(const Args& args) {
    expect_args(args, 2, 2, "pixel X Y");
    plat::Bitmap* bitmap = client();
    int w = bitmap ? bitmap->width : 0;
    int h = bitmap ? bitmap->height : 0;
    int x = static_cast<int>(parse_int(args[0], 0, w - 1, "x"));
    int y = static_cast<int>(parse_int(args[1], 0, h - 1, "y"));
    plat::Colour c = bitmap->pixels[static_cast<size_t>(y) * w + x];
    std::cout << (c & 0xFF) << ' ' << (c >> 8 & 0xFF) << ' ' << (c >> 16 & 0xFF) << '\n';
}

void Runner::screenshot(const Args& args) {
    expect_args(args, 1, 1, "screenshot FILE");
    if (!plat::save_bmp_file(client(), args[0].c_str())) throw Failure{kExitFailed, "cannot write " + args[0]};
}

void Runner::until(const Args& args) {
    expect_args(args, 1, 2, "until MODE [MAX]");
    auto mode = static_cast<uint8_t>(parse_int(args[0], 0, 255, "mode"));
    long long max = args.size() > 1 ? parse_int(args[1], 0, 1LL << 40, "tick limit") : 1000000;
    long long ticks = 0;
    if (follower_) {
        uint32_t start = follower_->tick();
        bool reached =
            follow([&] { return timer_mode == mode || follower_->tick() - start >= max; }, follower_->timeout());
        ticks = follower_->tick() - start;
        if (!reached || timer_mode != mode)
            throw Failure{kExitNotReached, "timer_mode is " + std::to_string(timer_mode) + ", not " +
                                               std::to_string(mode) + ", after " + std::to_string(ticks) + " ticks"};
    }
    while (timer_mode != mode) {
        if (ticks == max)
            throw Failure{kExitNotReached, "timer_mode is " + std::to_string(timer_mode) + ", not " + std::to_string(mode) +
                             ", after " + std::to_string(ticks) + " ticks"};
        tick();
        ticks++;
    }
    std::cout << "ticks " << ticks << '\n';
}

// Online, the room's ticks: at least n of its frames, as they come.
void Runner::ticks(long long n) {
    if (!follower_) {
        for (long long i = 0; i < n; i++) tick();
        return;
    }
    uint32_t start = follower_->tick();
    if (!follow([&] { return follower_->tick() - start >= n; }, follower_->timeout()))
        throw Failure{kExitNotReached, "the room played " + std::to_string(follower_->tick() - start) + " of " +
                                           std::to_string(n) + " ticks in time"};
}

void Runner::wait(const Args& args) {
    expect_args(args, 1, 1, "wait MS");
    long long ms = parse_int(args[0], 0, 600000, "milliseconds");
    if (follower_) follow([] { return false; }, std::chrono::milliseconds(ms));
    else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Runner::follow(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    bool reached = follower_->pump_until(done, limit);
    if (follower_->lost()) throw Failure{kExitLost, "the connection to the room was lost: " + follower_->reason()};
    return reached;
}

void Runner::run(const std::string& command, const Args& args) {
    if (command == "tick") {
        expect_args(args, 0, 1, "tick [N]");
        ticks(args.empty() ? 1 : parse_int(args[0], 0, 1LL << 40, "tick count"));
    } else if (command == "down") {
        mouse(args, true, false);
    } else if (command == "up") {
        mouse(args, false, true);
    } else if (command == "click") {
        mouse(args, true, true);
    } else if (command == "paint") {
        expect_args(args, 0, 0, "paint");
        send(plat::WM_PAINT, 0, 0);
    } else if (command == "state") {
        std::cout << state_json(args) << '\n';
    } else if (command == "units") {
        std::cout << units_json(args) << '\n';
    } else if (command == "shots") {
        expect_args(args, 0, 0, "shots");
        std::cout << shots_json() << '\n';
    } else if (command == "caption") {
        expect_args(args, 0, 0, "caption");
        std::cout << plat::window_caption(window_) << '\n';
    } else if (command == "pixel") {
        pixel(args);
    } else if (command == "screenshot") {
        screenshot(args);
    } else if (command == "set") {
        if (follower_) throw ScriptError{"set would change the game behind the room's back"};
        if (!args.empty() && args[0] == "unit") set_unit(Args(args.begin() + 1, args.end()));
        else if (!args.empty() && args[0] == "shot") set_shot(Args(args.begin() + 1, args.end()));
        else set_global(args);
    } else if (command == "until") {
        until(args);
    } else if (command == "wait") {
        wait(args);
    } else {
        throw ScriptError{"unknown command " + command};
    }
}

void report(long line_number, const std::string& line, const std::string& message) {
    std::cout.flush();
    std::fprintf(stderr, "vantor-sim: line %ld: \"%s\": %s\n", line_number, line.c_str(), message.c_str());
}

}  // namespace

int run_script(std::istream& in, plat::Window* window, Follower* follower) {
    Runner runner(window, follower);
    std::string line;
    long line_number = 0;
    while (std::getline(in, line)) {
        line_number++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Args words = split_words(line);
        if (words.empty() || words[0][0] == '#') continue;
        std::string command = words[0];
        words.erase(words.begin());
        try {
            runner.run(command, words);
            // Whoever drives a client through pipes reads each answer as it comes.
            if (follower) std::cout.flush();
        } catch (const ScriptError& e) {
            report(line_number, line, e.message);
            return kExitBadScript;
        } catch (const Failure& e) {
            report(line_number, line, e.message);
            return e.code;
        }
    }
    return kExitOk;
}

}  // namespace sim
