// Players for the cluster's drills: R rooms made through one address (HAProxy in front of a cluster),
// each with one full headless player whose game the room's computer plays for every side. The rooms
// play until the time is up; whatever happens to the processes behind the address meanwhile (killed,
// stopped, Redis restarted), each player rejoins by itself, and the drill times it.
//   cluster_drill --address ws://HOST:PORT [--rooms R] [--seconds S]
// The rooms play for S seconds, or until a line (or the end) comes on the standard input.
// Prints "room CODE" for each room once all play, then "ready"; "resumed CODE MS TICK" each time a
// player is back after a drop (MS from the drop to its game playing again, TICK the room's tick then);
// "lost CODE WHY" for a player that gave up; at the end one line:
//   summary rooms R lost L resumed N median MS worst MS repairs K
// where repairs counts snapshots that put a player right after the one that brought it back. Exit 0
// when no player was lost and none needed a repair.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "model/globals.h"
#include "online/protocol.h"
#include "tests/online/harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using online_test::Player;

// The title screen's first player box and Start: side 0 the computer's too, then the game starts.
constexpr int kBoxX = 160, kBoxY = 340, kStartX = 377, kStartY = 342;

struct Seat {
    std::unique_ptr<Player> player;
    std::string code;
    bool away = false;
    Clock::time_point dropped;
    uint32_t snapshots = 0;  // when it was last back
    uint32_t clicked = 0;    // the tick of its last title click
    bool lost = false;
};

// On the title screen, a click every 10 ticks, time for the last to come back: side 0 to the
// computer, then Start.
void play(Seat& s) {
    Player& p = *s.player;
    if (!p.session().playing() || p.session().rejoining() || p.session().tick() - s.clicked < 10) return;
    bool title = p.in([] { return timer_mode == MODE_TITLE; });
    if (!title) return;
    bool person = p.in([] { return !cpu_player[0]; });
    p.click(person ? kBoxX : kStartX, person ? kBoxY : kStartY);
    s.clicked = p.session().tick();
}

long long ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

// A player's drops and returns, as they happen.
void watch(Seat& s, std::vector<long long>& gaps) {
    online::Session& session = s.player->session();
    if (s.lost) return;
    if (session.lost()) {
        s.lost = true;
        std::printf("lost %s %s\n", s.code.c_str(), session.reason().c_str());
        return;
    }
    if (session.rejoining() && !s.away) {
        s.away = true;
        s.dropped = Clock::now();
    } else if (s.away && !session.rejoining() && session.snapshots() > s.snapshots) {
        s.away = false;
        s.snapshots = session.snapshots();
        gaps.push_back(ms(Clock::now() - s.dropped));
        std::printf("resumed %s %lld %u\n", s.code.c_str(), gaps.back(), session.tick());
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string where;
    int rooms = 60, seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--address") where = argv[i + 1];
        else if (arg == "--rooms") rooms = std::atoi(argv[i + 1]);
        else if (arg == "--seconds") seconds = std::atoi(argv[i + 1]);
    }
    online::Address address;
    std::string why;
    if (argc % 2 == 0 || rooms < 1 || rooms > 1000 || seconds < 1 || seconds > 3600 ||
        !online::parse_address(where, &address, &why)) {
        std::fprintf(stderr, "usage: cluster_drill --address ws://HOST:PORT [--rooms R] [--seconds S] %s\n",
                     why.c_str());
        return 2;
    }
    online_test::work_in_empty_folder();
    online_test::Doorbell bell;
    std::vector<Seat> seats(static_cast<size_t>(rooms));
    std::vector<Player*> players;
    for (Seat& s : seats) {
        s.player = std::make_unique<Player>(&bell);
        s.player->create(address);
        players.push_back(s.player.get());
    }
    auto all_in = [&] {
        return std::all_of(seats.begin(), seats.end(),
                           [](Seat& s) { return s.player->session().playing() || s.player->session().lost(); });
    };
    if (!online_test::pump_until(players, bell, all_in, std::chrono::seconds(60))) {
        std::fprintf(stderr, "cluster_drill: the rooms were not all made within a minute\n");
        return 1;
    }
    for (Seat& s : seats) {
        if (s.player->session().lost()) {
            std::fprintf(stderr, "cluster_drill: a room was refused: %s\n", s.player->session().reason().c_str());
            return 1;
        }
        s.code = online::show_code(s.player->session().code());
        s.snapshots = s.player->session().snapshots();
        std::printf("room %s\n", s.code.c_str());
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<long long> gaps;
    std::atomic<bool> told{false};
    std::thread listener([&] {
        std::string line;
        std::getline(std::cin, line);
        told = true;
    });
    listener.detach();  // it may wait on the input still when the time is up
    online_test::pump_until(
        players, bell, [&] { return told.load(); }, std::chrono::seconds(seconds),
        [&] {
            for (Seat& s : seats) watch(s, gaps), play(s);
        });
    int lost = 0, repairs = 0;
    for (Seat& s : seats) {
        lost += s.lost ? 1 : 0;
        if (!s.lost && !s.away) repairs += static_cast<int>(s.player->session().snapshots() - s.snapshots);
    }
    std::sort(gaps.begin(), gaps.end());
    long long median = gaps.empty() ? 0 : gaps[gaps.size() / 2], worst = gaps.empty() ? 0 : gaps.back();
    std::printf("summary rooms %d lost %d resumed %zu median %lld worst %lld repairs %d\n", rooms, lost, gaps.size(),
                median, worst, repairs);
    return lost == 0 && repairs == 0 ? 0 : 1;
}
