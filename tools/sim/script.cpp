// The script commands: each line becomes window messages to the game or a look at its state.
#include "script.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/globals.h"
#include "parse.h"
#include "platform/bmp.h"
#include "platform/null.h"
#include "state.h"

namespace sim {

namespace {

// A well-formed command that could not do its work: until ran out of ticks, a file was not written.
struct Failure {
    int code;
    std::string message;
};

using Args = std::vector<std::string>;

class Runner {
public:
    explicit Runner(plat::Window* window) : window_(window) {}
    void run(const std::string& command, const Args& args);

private:
    void send(uint32_t message, uint32_t wparam, int32_t lparam) { feed(window_, message, wparam, lparam); }
    void tick() { send(plat::WM_TIMER, 1, 0); }
    void mouse(const Args& args, bool press, bool release);
    void pixel(const Args& args);
    void screenshot(const Args& args);
    void until(const Args& args);
    plat::Bitmap* client() const;

    plat::Window* window_;
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
    while (timer_mode != mode) {
        if (ticks == max)
            throw Failure{kExitNotReached, "timer_mode is " + std::to_string(timer_mode) + ", not " + std::to_string(mode) +
                             ", after " + std::to_string(ticks) + " ticks"};
        tick();
        ticks++;
    }
    std::cout << "ticks " << ticks << '\n';
}

void Runner::run(const std::string& command, const Args& args) {
    if (command == "tick") {
        expect_args(args, 0, 1, "tick [N]");
        long long n = args.empty() ? 1 : parse_int(args[0], 0, 1LL << 40, "tick count");
        for (long long i = 0; i < n; i++) tick();
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
        if (!args.empty() && args[0] == "unit") set_unit(Args(args.begin() + 1, args.end()));
        else if (!args.empty() && args[0] == "shot") set_shot(Args(args.begin() + 1, args.end()));
        else set_global(args);
    } else if (command == "until") {
        until(args);
    } else {
        throw ScriptError{"unknown command " + command};
    }
}

void report(long line_number, const std::string& line, const std::string& message) {
    std::cout.flush();
    std::fprintf(stderr, "vantor-sim: line %ld: \"%s\": %s\n", line_number, line.c_str(), message.c_str());
}

}  // namespace

int run_script(std::istream& in, plat::Window* window) {
    Runner runner(window);
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
