// Computer-only tournaments: every game is started from the title's start control and played by the
// computer on every side, through the same window messages as a script, until the game-over screen.
// Game K starts from seed S + K - 1. Left to run on, the 16-bit generator would soon bring a tournament
// back to a seed one of its games began with, and from there replay the same games over and over.
#include "tournament.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "checks.h"
#include "model/globals.h"
#include "parse.h"
#include "platform/null.h"
#include "replay/stream.h"
#include "replay_check.h"
#include "script.h"

namespace sim {

namespace {

constexpr int kTitleTicks = 1000;     // the intro lets a click through after 20 ticks
constexpr int kGameOverTicks = 1000;  // the game-over sequence lasts 100 ticks

// Points on the title screen and the panel, as a player would click them.
constexpr int kIntroX = 300, kIntroY = 200;
constexpr int kStartX = 380, kStartY = 340;
constexpr int kAbortX = 300, kAbortY = 430;

struct Game {
    long long ticks = 0;
    long long launches = 0;
    int winner = -1;  // -1: no side left
    bool stuck = false;
};

class Tournament {
public:
    Tournament(const TournamentOptions& options, plat::Window* window) : options_(options), window_(window) {}
    int run();

private:
    void send(uint32_t message, int32_t lparam) { feed(window_, message, 0, lparam); }
    void click(int x, int y);
    bool tick(long long game);
    std::string replay() const;
    bool to_title();
    int find_map() const;
    int play(long long number, Game* game);
    int check_replay_of(long long number);
    int play_all(int map);
    void print_summary(double seconds) const;

    const TournamentOptions& options_;
    plat::Window* window_;
    StateChecker checker_;
    uint16_t first_seed_ = 0;
    uint16_t game_seed_ = 0;  // the seed at this game's start control: --seed it --tournament 1 replays it
    long long game_tick_ = 0;  // ticks since this game's start control
    long long total_ticks_ = 0;
    long long wins_[NUM_SIDES + 1] = {};  // the last entry counts games that no side survived
    long long game_ticks_ = 0;
    long long stuck_ = 0;
    replay::Recording recorded_;  // the last game, with --check-replays
    bool has_recording_ = false;
};

void Tournament::click(int x, int y) {
    send(plat::WM_LBUTTONDOWN, plat::make_lparam(x, y));
    send(plat::WM_LBUTTONUP, plat::make_lparam(x, y));
}

// The command-line options that play this game alone.
std::string Tournament::replay() const {
    return "--seed " + std::to_string(game_seed_) + " --tournament 1 --players " + std::to_string(options_.players) +
           " --skill " + std::to_string(options_.skill) + " --map " + filelist[cur_map].letter;
}

// One tick, then the invariants when asked for; false at the first one broken.
bool Tournament::tick(long long game) {
    send(plat::WM_TIMER, 0);
    total_ticks_++;
    game_tick_++;
    if (!options_.check) return true;
    std::string broken = checker_.check();
    if (broken.empty()) return true;
    std::fflush(stdout);
    std::fprintf(stderr, "vantor-sim: game %lld, tick %lld, timer_mode %u: %s\nvantor-sim: replay it with %s\n", game,
                 game_tick_, static_cast<unsigned>(timer_mode), broken.c_str(), replay().c_str());
    return false;
}

bool Tournament::to_title() {
    for (int i = 0; i < kTitleTicks && !(timer_mode == MODE_INTRO && introover); i++) send(plat::WM_TIMER, 0);
    click(kIntroX, kIntroY);
    return timer_mode == MODE_TITLE;
}

int Tournament::find_map() const {
    if (options_.map.empty()) return cur_map;
    for (int i = 0; i < num_maps; i++)
        if (strncasecmp(filelist[i].letter, options_.map.c_str(), MAP_NAME_SIZE) == 0) return i;
    return -1;
}

// A missile launched in this tick has not yet been moved: its trail is still empty.
long long new_launches() {
    long long count = 0;
    for (const icbm& s : shot)
        if (s.flag && s.size == 0 && s.xco[TRAIL_LENGTH - 1] == -1) count++;
    return count;
}

int last_side_standing() {
    int winner = -1;
    for (int s = 0; s < num_players && s < NUM_SIDES; s++) {
        if (!alive[s]) continue;
        if (winner >= 0) return -1;
        winner = s;
    }
    return winner;
}

// From the start control to the title screen again; the game is over when timer_mode turns 4.
int Tournament::play(long long number, Game* game) {
    game_seed_ = static_cast<uint16_t>(first_seed_ + number - 1);
    seed = game_seed_;
    game_tick_ = 0;
    checker_.new_game();
    click(kStartX, kStartY);
    if (timer_mode != MODE_PLACING) {
        std::fprintf(stderr, "vantor-sim: game %lld did not start: %s\n", number,
                     title_message[0] ? title_message : "the start control was refused");
        return kExitFailed;
    }
    while (timer_mode != MODE_GAMEOVER) {
        if (game->ticks == options_.max_ticks) {
            // Ended by the abort control, so that the next game can start.
            game->stuck = true;
            click(kAbortX, kAbortY);
            break;
        }
        if (!tick(number)) return kExitViolation;
        game->ticks++;
        game->launches += new_launches();
    }
    game->winner = game->stuck ? -1 : last_side_standing();
    for (int i = 0; i < kGameOverTicks && timer_mode == MODE_GAMEOVER; i++)
        if (!tick(number)) return kExitViolation;
    plat::clear_sound_log();
    if (timer_mode != MODE_TITLE) {
        std::fprintf(stderr, "vantor-sim: game %lld: the title screen did not come back\n", number);
        return kExitFailed;
    }
    return kExitOk;
}

// The game just played against its replay; a game cut short has no replay to check.
int Tournament::check_replay_of(long long number) {
    std::string why = has_recording_ && recorded_.finished ? check_replay(recorded_) : "no whole game was recorded";
    has_recording_ = false;
    if (why.empty()) return kExitOk;
    std::fflush(stdout);
    std::fprintf(stderr, "vantor-sim: game %lld: its replay does not check: %s\nvantor-sim: replay it with %s\n", number,
                 why.c_str(), replay().c_str());
    return kExitDesync;
}

void Tournament::print_summary(double seconds) const {
    long long played = options_.games;
    std::printf("summary games %lld wins", played);
    for (int s = 0; s < options_.players; s++) std::printf(" %lld", wins_[s]);
    std::printf(" none %lld stuck %lld mean ticks %.1f", wins_[NUM_SIDES], stuck_,
                static_cast<double>(game_ticks_) / static_cast<double>(played));
    if (options_.check_replays) std::printf(" replays checked %lld", played);
    if (options_.timing) std::printf(" ticks per second %.0f", seconds > 0 ? total_ticks_ / seconds : 0.0);
    std::printf("\n");
}

int Tournament::run() {
    if (!to_title()) {
        std::fprintf(stderr, "vantor-sim: the title screen did not open\n");
        return kExitFailed;
    }
    int map = find_map();
    if (map < 0) {
        std::string names;
        for (int i = 0; i < num_maps; i++) names += std::string(i ? ", " : "") + filelist[i].letter;
        std::fprintf(stderr, "vantor-sim: no map %s; the maps are %s\n", options_.map.c_str(), names.c_str());
        return kExitBadScript;
    }
    first_seed_ = seed;
    std::printf("tournament games %lld players %d skill %d map %s seed %u check %s\n", options_.games,
                options_.players, options_.skill, filelist[map].letter, static_cast<unsigned>(seed),
                options_.check ? "on" : "off");
    replay::Recorder recorder([this](replay::Recording&& game) {
        recorded_ = std::move(game);
        has_recording_ = true;
    });
    if (options_.check_replays) replay::set_listener(&recorder);
    int code = play_all(map);
    replay::set_listener(nullptr);
    return code;
}

int Tournament::play_all(int map) {
    auto start = std::chrono::steady_clock::now();
    for (long long k = 1; k <= options_.games; k++) {
        // The options of a game, set as the title's controls would leave them.
        num_players = static_cast<uint8_t>(options_.players);
        for (bool& cpu : cpu_player) cpu = true;
        cpu_skill = static_cast<uint16_t>(options_.skill);
        cur_map = static_cast<uint8_t>(map);
        Game game;
        int code = play(k, &game);
        if (code == kExitOk && options_.check_replays) code = check_replay_of(k);
        if (code != kExitOk) return code;
        game_ticks_ += game.ticks;
        if (game.stuck) {
            stuck_++;
            std::printf("game %lld stuck ticks %lld launches %lld\n", k, game.ticks, game.launches);
            std::fflush(stdout);
            std::fprintf(stderr, "vantor-sim: game %lld is stuck; replay it with %s\n", k, replay().c_str());
        } else {
            wins_[game.winner < 0 ? NUM_SIDES : game.winner]++;
            std::string winner = game.winner < 0 ? "none" : std::to_string(game.winner);
            std::printf("game %lld winner %s ticks %lld launches %lld\n", k, winner.c_str(), game.ticks,
                        game.launches);
        }
    }
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    print_summary(seconds.count());
    std::fflush(stdout);
    if (stuck_ > 0) {
        std::fprintf(stderr, "vantor-sim: %lld game(s) still going after %lld ticks\n", stuck_, options_.max_ticks);
        return kExitStuck;
    }
    return kExitOk;
}

}  // namespace

bool parse_tournament_option(int argc, char** argv, int* i, TournamentOptions* options) {
    std::string arg = argv[*i];
    if (arg == "--tournament") {
        options->games = parse_int(value_of(argc, argv, i), 1, 1000000000, "number of games");
    } else if (arg == "--players") {
        options->players = static_cast<int>(parse_int(value_of(argc, argv, i), 2, NUM_SIDES, "players"));
    } else if (arg == "--skill") {
        options->skill = static_cast<int>(parse_int(value_of(argc, argv, i), 0, MAX_SKILL, "skill"));
    } else if (arg == "--map") {
        options->map = value_of(argc, argv, i);
    } else if (arg == "--max-ticks") {
        options->max_ticks = parse_int(value_of(argc, argv, i), 1, 1LL << 40, "tick limit");
    } else if (arg == "--check") {
        options->check = true;
    } else if (arg == "--check-replays") {
        options->check_replays = true;
    } else if (arg == "--no-timing") {
        options->timing = false;
    } else {
        return false;
    }
    options->given = true;
    return true;
}

int run_tournament(const TournamentOptions& options, plat::Window* window) {
    Tournament tournament(options, window);
    return tournament.run();
}

}  // namespace sim
