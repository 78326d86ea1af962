// Whole online games on the loopback. A server with a fast clock, and rooms of four headless players,
// each with a game of its own: the creator sets the options on the title screen and starts, the
// computer plays the sides made the computer's, scripted persons play the rest, to the game's end and
// back to the title, on every built-in map in turn. The server checks every player's hash every 10
// ticks; a single difference fails the run.
//   online_games [--games N] [--rooms R] [--tick-ms MS] [--full] [--max-ticks N]
// Rooms play on threads of their own, R at a time, N games in all. --full plays the default options
// rather than a few cities and launchers a side.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "model/globals.h"
#include "model/layout.h"

namespace {

using namespace online_test;

constexpr const char* kMaps[] = {"World", "Pangaea", "Twin", "Archipelago"};

struct Options {
    int games = 4;
    int rooms = 2;
    uint32_t tick_ms = 1;
    bool full = false;
    uint32_t max_ticks = 60000;
};

struct Tally {
    int games = 0;
    int aborted = 0;  // still going after max_ticks: ended with Abort
    long long ticks = 0;
    int person_turns = 0;
    int wins[NUM_SIDES + 1] = {};
    std::string failure;
};

// What the creator wants of the next game.
struct Setup {
    const char* map;
    bool computer[NUM_SIDES];
    bool full;
};

// The creator's next click on the title screen towards the setup: a map arrow, an option's arrow, a
// player box, else Start.
void next_title_click(const Setup& want, int* x, int* y) {
    int wanted_map = cur_map;
    for (int i = 0; i < num_maps; i++)
        if (std::strcmp(filelist[i].letter, want.map) == 0) wanted_map = i;
    if (cur_map != wanted_map) {
        *x = cur_map < wanted_map ? 427 : 167, *y = 207;
        return;
    }
    if (!want.full && num_city > 4) *x = 167, *y = 252;
    else if (!want.full && num_silo > 2) *x = 322, *y = 252;
    else if (!want.full && num_sub > 1) *x = 167, *y = 297;
    // Every seated side in the game, then each side's hands as wanted; a box far right that the click
    // takes out of the game is brought back by the next.
    else if (num_players < NUM_SIDES) *x = 160 + 30 * num_players, *y = 340;
    else {
        for (int k = 0; k < NUM_SIDES; k++) {
            if (cpu_player[k] != want.computer[k]) {
                *x = 160 + 30 * k, *y = 340;
                return;
            }
        }
        *x = 380, *y = 340;
    }
}

bool fail(Tally* tally, const std::string& what) {
    if (tally->failure.empty()) tally->failure = what;
    return false;
}

// One game in the room, from the title screen back to it.
bool play_game(std::vector<Player*>& players, Doorbell& bell, const Setup& want, const Options& o, Tally* tally) {
    Player& creator = *players[0];
    // The next click goes only once the last has come back from the room and been taken: two
    // clicks on their way at once would overshoot an arrow or turn a player box back, however far
    // behind its room a slow (a sanitizer's) client runs. And no faster than a person clicks: a
    // click the title does not take yet is clicked again, within the seat's allowance of inputs.
    auto clicked = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    auto to_start = [&] {
        auto now = std::chrono::steady_clock::now();
        if (!creator.clicks_back() || now - clicked < std::chrono::milliseconds(100)) return;
        int x = 0, y = 0;
        creator.in([&] { next_title_click(want, &x, &y); });
        creator.click(x, y);
        clicked = now;
    };
    auto started = [&] { return creator.in([] { return timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING; }); };
    if (!pump_until(players, bell, started, std::chrono::seconds(60), to_start))
        return fail(tally, std::string("the game on ") + want.map + " did not start");

    // Played to the game-over screen; one still going at max_ticks is ended with Abort.
    uint32_t start = creator.session().tick();
    Person persons[NUM_SIDES];
    bool aborted = false;
    auto play = [&] {
        for (Player* p : players) persons[p->session().side()].act(*p);
        if (!aborted && creator.session().tick() - start > o.max_ticks) {
            creator.click(300, 430);
            aborted = true;
        }
    };
    auto lost = [&] {
        for (Player* p : players)
            if (p->session().lost()) return true;
        return false;
    };
    auto over = [&] { return lost() || creator.in([] { return timer_mode == MODE_GAMEOVER; }); };
    auto limit = std::chrono::milliseconds(3LL * o.max_ticks * (o.tick_ms + 2) + 60000);
    if (!pump_until(players, bell, over, limit, play) || lost())
        return fail(tally, std::string("the game on ") + want.map + " did not end");
    int winner = creator.in([] {
        int left = -1;
        for (int s = 0; s < num_players; s++)
            if (alive[s]) left = left < 0 ? s : NUM_SIDES;
        return left < 0 ? NUM_SIDES : left;
    });
    tally->ticks += creator.session().tick() - start;
    auto title = [&] { return creator.in([] { return timer_mode == MODE_TITLE; }); };
    if (!pump_until(players, bell, title, std::chrono::seconds(60))) return fail(tally, "the title did not come back");
    for (Player* p : players) {
        if (p->session().lost()) return fail(tally, "a player lost the connection: " + p->session().reason());
        if (p->session().snapshots() != 1) return fail(tally, "a player's game was found to differ and restored");
    }
    for (int s = 0; s < NUM_SIDES; s++) tally->person_turns += persons[s].turns();
    tally->games++;
    tally->aborted += aborted ? 1 : 0;
    tally->wins[winner]++;
    return true;
}

// A room of four players plays `count` games, the k-th on map first + k.
void play_room(const online::Address& server, int first, int count, const Options& o, Tally* tally) {
    Doorbell bell;
    Player creator(&bell);
    creator.create(server);
    auto playing = [](Player& p) { return [&p] { return p.session().playing() || p.session().lost(); }; };
    if (!pump_until({&creator}, bell, playing(creator), std::chrono::seconds(20)) || creator.session().lost())
        return (void)fail(tally, "no room: " + creator.session().reason());
    std::vector<std::unique_ptr<Player>> others;
    std::vector<Player*> players{&creator};
    for (int i = 1; i < NUM_SIDES; i++) {
        others.push_back(std::make_unique<Player>(&bell));
        others.back()->join(server, creator.session().code());
        players.push_back(others.back().get());
        if (!pump_until(players, bell, playing(*players.back()), std::chrono::seconds(20)) ||
            players.back()->session().lost())
            return (void)fail(tally, "a player could not join: " + players.back()->session().reason());
    }
    for (int k = 0; k < count; k++) {
        int n = first + k;
        // The creator always plays; of the others, by turns none, one or two go to the computer.
        Setup want{kMaps[n % 4], {false, n % 3 == 1, n % 3 == 2, n % 3 != 0}, o.full};
        if (!play_game(players, bell, want, o, tally)) return;
        std::printf("game %d map %s done\n", n + 1, want.map);
        std::fflush(stdout);
    }
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool value = i + 1 < argc;
        if (arg == "--games" && value) o->games = std::atoi(argv[++i]);
        else if (arg == "--rooms" && value) o->rooms = std::atoi(argv[++i]);
        else if (arg == "--tick-ms" && value) o->tick_ms = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (arg == "--max-ticks" && value) o->max_ticks = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (arg == "--full") o->full = true;
        else return false;
    }
    return o->games > 0 && o->rooms > 0 && o->tick_ms > 0 && o->max_ticks > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: online_games [--games N] [--rooms R] [--tick-ms MS] [--full] [--max-ticks N]\n");
        return 2;
    }
    online::ServerOptions server_options;
    server_options.tick_ms = o.tick_ms;
    LocalServer server(server_options);
    auto began = std::chrono::steady_clock::now();
    int rooms = std::min(o.rooms, o.games);
    std::vector<Tally> tallies(static_cast<size_t>(rooms));
    std::vector<std::thread> threads;
    for (int r = 0; r < rooms; r++) {
        int first = o.games * r / rooms, count = o.games * (r + 1) / rooms - first;
        threads.emplace_back([&, r, first, count] { play_room(server.address(), first, count, o, &tallies[r]); });
    }
    for (std::thread& t : threads) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    Tally all;
    for (const Tally& t : tallies) {
        all.games += t.games, all.aborted += t.aborted, all.ticks += t.ticks, all.person_turns += t.person_turns;
        for (int s = 0; s <= NUM_SIDES; s++) all.wins[s] += t.wins[s];
        if (!t.failure.empty()) std::fprintf(stderr, "online_games: %s\n", t.failure.c_str());
        if (all.failure.empty()) all.failure = t.failure;
    }
    online::Metrics m = server.metrics();
    std::printf("games %d aborted %d wins %d %d %d %d none %d mean ticks %.0f person turns %d\n", all.games,
                all.aborted, all.wins[0], all.wins[1], all.wins[2], all.wins[3], all.wins[NUM_SIDES],
                all.games ? static_cast<double>(all.ticks) / all.games : 0.0, all.person_turns);
    std::printf("server frames %llu hash checks %llu desyncs %llu inputs %llu ignored %llu seconds %.1f\n",
                static_cast<unsigned long long>(m.frames_total), static_cast<unsigned long long>(m.checks_total),
                static_cast<unsigned long long>(m.desyncs_total), static_cast<unsigned long long>(m.inputs_total),
                static_cast<unsigned long long>(m.ignored_total), seconds);
    for (const std::string& line : server.log())
        if (line.find("desync") != std::string::npos || line.find("dropped") != std::string::npos)
            std::fprintf(stderr, "online_games: server: %s\n", line.c_str());
    // Every player sent a hash every 10 ticks of its room: most of them must have been compared.
    bool checked = m.checks_total * 10 >= m.frames_total * 3;
    if (!checked) std::fprintf(stderr, "online_games: too few hashes were compared\n");
    bool ok = all.failure.empty() && all.games == o.games && m.desyncs_total == 0 && checked && all.person_turns > 0;
    return ok ? 0 : 1;
}
