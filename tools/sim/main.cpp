// vantor-sim: runs the game headless from a script of ticks, clicks and looks at its state.
//   vantor-sim [--dir DIR] [--seed N] [--settings FILE] [SCRIPT]
//   vantor-sim [--dir DIR] [--seed N] --tournament N [--players P] [--skill S] [--map NAME] [--check]
// Changes to DIR, starts the game over the off-screen window, sets the seed, then runs SCRIPT
// (or standard input) one command a line, or plays N computer-only games. See tests/sim/README.md.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "app/app.h"
#include "init/init.h"
#include "model/globals.h"
#include "parse.h"
#include "platform/null.h"
#include "script.h"
#include "tournament.h"

namespace {

struct Options {
    std::string dir;
    std::string settings;
    long long seed = -1;
    std::string script;
    sim::TournamentOptions tournament;
};

constexpr const char* kUsage =
    "usage: vantor-sim [--dir DIR] [--seed N] [--settings FILE] [SCRIPT]\n"
    "       vantor-sim [--dir DIR] [--seed N] --tournament N [--players P] [--skill S] [--map NAME]\n"
    "                  [--check] [--max-ticks N] [--no-timing]\n";

// Every sound is reported the moment it starts, in order with the rest of the output.
void print_sound(const char* name) { std::cout << "sound " << name << '\n'; }

bool parse_options(int argc, char** argv, Options* options) {
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
        } else if (arg.rfind("--", 0) == 0 && sim::parse_tournament_option(argc, argv, &i, &options->tournament)) {
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
    return true;
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
    if (!tournament) plat::set_sound_observer(print_sound);
    // Scenarios stay reproducible: no settings are read or written unless asked for.
    settingsfile(options.settings);
    if (!openwindow(nullptr, 1)) {
        std::fprintf(stderr, "vantor-sim: the window cannot be opened\n");
        return sim::kExitFailed;
    }
    if (options.seed >= 0) seed = static_cast<uint16_t>(options.seed);

    int code = tournament ? sim::run_tournament(options.tournament, hwnd) : sim::run_script(in, hwnd);

    // Closing the window runs exitgame, which frees what the game holds.
    plat::Window* window = hwnd;
    plat::destroy_window(window);
    hwnd = nullptr;
    plat::set_sound_observer(nullptr);
    std::cout.flush();
    return code;
}
