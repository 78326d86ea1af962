// Click to screen on the loopback: how long the click of the player to move takes to show in that
// player's own game. A server at the real pace (a tick every 100 ms) and two players; in a person's
// turn its player clicks the dial, to one bearing and then the other, at random moments of the tick,
// and times each click from its sending to the pump that plays it into the game, which draws it there
// and then. The room answers a click in the frame of the next tick: within a round trip and a tick.
//   online_latency [--clicks N] [--tick-ms MS] [--limit-ms MS]
// Prints the percentiles; fails when the 99th is not under the limit (150 ms unless told).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/online/harness.h"
#include "model/globals.h"

namespace {

using namespace online_test;
using Clock = std::chrono::steady_clock;

// The dial's east and west points: bearings 90 and 270.
constexpr int kDialY = 430, kEastX = 412, kWestX = 368;
constexpr int kStartX = 380, kStartY = 340;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int run(int clicks, uint32_t period_ms, double limit) {
    work_in_empty_folder();
    online::ServerOptions options;
    options.tick_ms = period_ms;
    LocalServer server(options);
    Doorbell bell;
    Player red(&bell), blue(&bell);
    auto ready = [](Player& p) { return [&p] { return p.session().playing() || p.session().lost(); }; };
    red.create(server.address());
    if (!pump_until({&red}, bell, ready(red), std::chrono::seconds(20)) || red.session().lost()) {
        std::fprintf(stderr, "online_latency: no room\n");
        return 1;
    }
    blue.join(server.address(), red.session().code());
    std::vector<Player*> both{&red, &blue};
    if (!pump_until(both, bell, ready(blue), std::chrono::seconds(20)) || blue.session().lost()) {
        std::fprintf(stderr, "online_latency: the second player could not join\n");
        return 1;
    }
    red.click(kStartX, kStartY);
    // Into the turn of one of the two, with the sky clear: a computer's missile may still fall.
    auto person_to_move = [&] {
        return red.in([] {
            if (timer_mode != MODE_PLAYING || cur_player > 1 || cpu_player[cur_player]) return false;
            for (const icbm& s : shot)
                if (s.flag) return false;
            return true;
        });
    };
    if (!pump_until(both, bell, person_to_move, std::chrono::seconds(120))) {
        std::fprintf(stderr, "online_latency: no person's turn came\n");
        return 1;
    }
    Player& mover = red.in([] { return cur_player; }) == 0 ? red : blue;

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause_ms(0, static_cast<int>(period_ms));
    std::vector<double> times;
    for (int k = 0; k < clicks; k++) {
        int x = k % 2 ? kWestX : kEastX;
        uint16_t before = mover.in([] { return bearing; });
        auto sent = Clock::now();
        mover.click(x, kDialY);
        auto shown = [&] { return mover.in([] { return bearing; }) != before; };
        if (!pump_until(both, bell, shown, std::chrono::seconds(5))) {
            std::fprintf(stderr, "online_latency: click %d never came back\n", k + 1);
            return 1;
        }
        times.push_back(ms(Clock::now() - sent));
        auto until = Clock::now() + std::chrono::milliseconds(pause_ms(random));
        pump_until(both, bell, [&] { return Clock::now() >= until; }, std::chrono::seconds(1));
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[std::min(times.size() - 1, static_cast<size_t>(q * times.size()))]; };
    std::printf("clicks %zu tick %u ms: click to screen p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", times.size(),
                period_ms, at(0.50), at(0.99), times.back());
    for (Player* p : both)
        if (p->session().snapshots() != 1) {
            std::fprintf(stderr, "online_latency: a game was found to differ and restored\n");
            return 1;
        }
    return at(0.99) < limit ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int clicks = 300;
    long period_ms = 100;
    double limit = 150;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--clicks") clicks = std::atoi(argv[i + 1]);
        else if (arg == "--tick-ms") period_ms = std::atol(argv[i + 1]);
        else if (arg == "--limit-ms") limit = std::atof(argv[i + 1]);
        else clicks = 0;
    }
    if (clicks <= 0 || period_ms <= 0 || period_ms > 1000 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: online_latency [--clicks N] [--tick-ms MS] [--limit-ms MS]\n");
        return 2;
    }
    return run(clicks, static_cast<uint32_t>(period_ms), limit);
}
