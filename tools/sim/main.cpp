// vantor-sim: runs the game headless from a script of ticks, clicks and looks at its state.
//   vantor-sim [--dir DIR] [--seed N] [--settings FILE] [SCRIPT]
//   vantor-sim [--dir DIR] [--seed N] --tournament N [--players P] [--skill S] [--map NAME] [--check]
//              [--check-replays]
//   vantor-sim [--dir DIR] [--seed N] [--settings FILE] --record FILE [SCRIPT]
//   vantor-sim [--dir DIR] --replay FILE [--check]
//   vantor-sim [--dir DIR] [--timeout S] (--online ws://HOST:PORT | --join CODE@HOST:PORT [--token HEX]
//              | --watch CODE@HOST:PORT) [SCRIPT]
// Changes to DIR, starts the game over the off-screen window, sets the seed, then runs SCRIPT
// (or standard input) one command a line, or plays N computer-only games, or plays a replay back.
// --record writes the replay of the game the script plays, from its Start press. Online, the game follows
// a room's on a server, and the script plays one of its sides. See tests/sim/README.md.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "app/app.h"
#include "init/init.h"
#include "model/globals.h"
#include "online.h"
#include "parse.h"
#include "platform/null.h"
#include "replay/file.h"
#include "replay/playback.h"
#include "replay/state.h"
#include "replay/stream.h"
#include "script.h"
#include "json.h"
#include "state.h"
#include "tournament.h"

namespace {

struct Options {
    std::string dir;
    std::string settings;
    long long seed = -1;
    std::string script;
    std::string record;  // write the replay of the script's game here
    std::string replay;  // play this replay back
    bool check = false;  // and check its hashes
    sim::TournamentOptions tournament;
    sim::OnlineOptions online;
    sim::Target target;  // where the online options lead
};

constexpr const char* kUsage =
    "usage: vantor-sim [--dir DIR] [--seed N] [--settings FILE] [SCRIPT]\n"
    "       vantor-sim [--dir DIR] [--seed N] --tournament N [--players P] [--skill S] [--map NAME]\n"
    "                  [--check] [--check-replays] [--max-ticks N] [--no-timing]\n"
    "       vantor-sim [--dir DIR] [--seed N] [--settings FILE] --record FILE [SCRIPT]\n"
    "       vantor-sim [--dir DIR] --replay FILE [--check]\n"
    "       vantor-sim [--dir DIR] [--timeout S] (--online ws://HOST:PORT | --join CODE@HOST:PORT [--token HEX]\n"
    "                  | --watch CODE@HOST:PORT) [SCRIPT]\n";

// Every sound is reported the moment it starts, in order with the rest of the output.
void print_sound(const char* name) { std::cout << "sound " << name << '\n'; }

bool parse_options(int argc, char** argv, Options* options) {
    // --check belongs to --replay wherever it stands, when there is one; else to the tournament.
    bool replaying = false;
    for (int i = 1; i + 1 < argc; i++) replaying = replaying || std::string(argv[i]) == "--replay";
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--dir" && has_value) {
            options->dir = argv[++i];
        } else if (arg == "--settings" && has_value) {
            // Like the script, a relative path means the caller's directory.
            options->settings = std::filesystem::absolute(argv[++i]).string();
        } else if (arg == "--seed" && has_value) {
            try {
                options->seed = sim::parse_int(argv[++i], 0, 65535, "seed");
            } catch (const sim::ScriptError& e) {
                std::fprintf(stderr, "vantor-sim: %s\n", e.message.c_str());
                return false;
            }
        } else if ((arg == "--record" || arg == "--replay") && has_value) {
            // Like the script, a relative path means the caller's directory.
            (arg == "--record" ? options->record : options->replay) = std::filesystem::absolute(argv[++i]).string();
        } else if (arg == "--check" && replaying) {
            options->check = true;
        } else if (arg.rfind("--", 0) == 0 && sim::parse_tournament_option(argc, argv, &i, &options->tournament)) {
            // taken
        } else if (arg.rfind("--", 0) == 0 && sim::parse_online_option(argc, argv, &i, &options->online)) {
            // taken
        } else if ((arg.size() > 1 && arg[0] == '-') || !options->script.empty()) {
            std::fprintf(stderr, "vantor-sim: unexpected argument %s\n%s", arg.c_str(), kUsage);
            return false;
        } else {
            options->script = arg;
        }
    }
    if (options->tournament.given && (options->tournament.games == 0 || !options->script.empty())) {
        std::fprintf(stderr, "vantor-sim: the tournament options need --tournament N and no script\n%s", kUsage);
        return false;
    }
    if ((replaying && (options->tournament.given || !options->script.empty() || !options->record.empty())) ||
        (!options->record.empty() && options->tournament.given)) {
        std::fprintf(stderr, "vantor-sim: --replay goes alone, and --record with a script\n%s", kUsage);
        return false;
    }
    bool online = options->online.role != sim::OnlineOptions::Role::kNone;
    bool online_extras = !options->online.token.empty() || options->online.timeout_given;
    if ((online && (replaying || options->tournament.given || !options->record.empty())) ||
        (online_extras && !online)) {
        std::fprintf(stderr, "vantor-sim: --online, --join and --watch go with a script alone\n%s", kUsage);
        return false;
    }
    std::string why;
    if (online && !sim::resolve_online(options->online, &options->target, &why)) {
        std::fprintf(stderr, "vantor-sim: %s\n%s", why.c_str(), kUsage);
        return false;
    }
    return true;
}

// Plays the replay to its end and prints the final state and its hash; with check, compares the
// recorded hashes on the way and names the first tick that differs.
int play_replay(const Options& options) {
    replay::Recording game;
    std::string why;
    if (!replay::read_replay(options.replay, &game, &why)) {
        std::fprintf(stderr, "vantor-sim: cannot play the replay %s\n", why.c_str());
        return sim::kExitBadScript;
    }
    plat::Window* window = hwnd;
    replay::Playback playback(game, [window](uint32_t message, uint32_t wParam, int32_t lParam) {
        feed(window, message, wParam, lParam);
    });
    if (!playback.start(&why)) {
        std::fprintf(stderr, "vantor-sim: cannot play the replay %s: %s\n", options.replay.c_str(), why.c_str());
        return sim::kExitBadScript;
    }
    while (playback.step()) {
    }
    std::cout << sim::state_json({}) << '\n';
    std::printf("ticks %u\n", static_cast<unsigned>(game.ticks));
    std::cout << "hash " << sim::hex64(replay::state_hash()) << '\n';
    if (!options.check) return sim::kExitOk;
    if (playback.first_mismatch() >= 0) {
        std::cout << "check: tick " << playback.first_mismatch() << " differs: recorded "
                  << sim::hex64(playback.expected_hash()) << ", played " << sim::hex64(playback.actual_hash()) << '\n';
        return sim::kExitFailed;
    }
    std::cout << "check: " << game.checkpoints.size() + 1 << " hashes match\n";
    return sim::kExitOk;
}

// Follows the room: the script starts once the room's game has arrived, and the connection closes
// when it ends.
int run_online(const Options& options, std::istream& in) {
    sim::Follower follower(hwnd, std::chrono::seconds(options.online.timeout_s));
    std::string why;
    if (!follower.start(options.target, &why)) {
        std::cout.flush();
        std::fprintf(stderr, "vantor-sim: no game from the room: %s\n", why.c_str());
        return sim::kExitLost;
    }
    plat::set_sound_observer(print_sound);
    int code = sim::run_script(in, hwnd, &follower);
    // A loss that no wait saw still ends the run as one.
    if (code == sim::kExitOk && !follower.pump_until([] { return true; }, std::chrono::milliseconds(0))) {
        std::cout.flush();
        std::fprintf(stderr, "vantor-sim: the connection to the room was lost: %s\n", follower.reason().c_str());
        return sim::kExitLost;
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return sim::kExitOk;
    }
    try {
        if (!parse_options(argc, argv, &options)) return sim::kExitBadScript;
    } catch (const sim::ScriptError& e) {
        std::fprintf(stderr, "vantor-sim: %s\n%s", e.message.c_str(), kUsage);
        return sim::kExitBadScript;
    }
    bool tournament = options.tournament.games > 0;
    bool online = options.online.role != sim::OnlineOptions::Role::kNone;

    // The script is opened before the change of directory, so a relative path means the caller's.
    std::ifstream file;
    if (!options.script.empty() && options.script != "-") {
        file.open(options.script);
        if (!file) {
            std::fprintf(stderr, "vantor-sim: cannot open the script %s\n", options.script.c_str());
            return sim::kExitBadScript;
        }
    }
    std::istream& in = file.is_open() ? static_cast<std::istream&>(file) : std::cin;
    if (!options.dir.empty() && chdir(options.dir.c_str()) != 0) {
        std::fprintf(stderr, "vantor-sim: cannot change to the directory %s\n", options.dir.c_str());
        return sim::kExitBadScript;
    }

    // A tournament prints its games, not their sounds.
    // Online, the room's sounds, not the local intro's before the room's game arrives.
    if (!tournament && options.replay.empty() && !online) plat::set_sound_observer(print_sound);
    // Scenarios stay reproducible: no settings are read or written unless asked for.
    settingsfile(options.settings);
    if (!openwindow()) {
        std::fprintf(stderr, "vantor-sim: the window cannot be opened\n");
        return sim::kExitFailed;
    }
    if (options.seed >= 0) seed = static_cast<uint16_t>(options.seed);

    // The recorder keeps the last game the script starts, cut short if the script ends inside it.
    bool recorded = false;
    std::string record_error;
    replay::Recorder recorder([&](replay::Recording&& game) {
        recorded = replay::write_replay(options.record, game, &record_error);
    });
    if (!options.record.empty()) replay::set_listener(&recorder);
    int code = !options.replay.empty() ? play_replay(options)
               : tournament            ? sim::run_tournament(options.tournament, hwnd)
               : online                ? run_online(options, in)
                                       : sim::run_script(in, hwnd);
    if (!options.record.empty()) {
        recorder.finish();
        replay::set_listener(nullptr);
        if (!recorded && code == sim::kExitOk) {
            std::fprintf(stderr, "vantor-sim: %s\n", record_error.empty() ? "no game was started, so none is recorded"
                                                                          : record_error.c_str());
            code = sim::kExitFailed;
        }
    }

    // Closing the window runs exitgame, which frees what the game holds.
    plat::Window* window = hwnd;
    plat::destroy_window(window);
    hwnd = nullptr;
    plat::set_sound_observer(nullptr);
    std::cout.flush();
    return code;
}
