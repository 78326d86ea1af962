// Computer-only tournaments: whole games from the title's start control to the game-over screen,
// every side played by the computer, headless and at full speed.
#pragma once

#include <string>

#include "platform/window.h"

namespace sim {

constexpr int kExitViolation = 4;  // --check found a broken invariant
constexpr int kExitStuck = 5;      // a game did not end within the tick limit
constexpr int kExitDesync = 6;     // --check-replays: a game's replay did not play back the same

struct TournamentOptions {
    long long games = 0;          // 0: no tournament, run a script
    int players = 4;
    int skill = 20;
    std::string map;              // empty: the title's default map
    bool check = false;
    bool check_replays = false;   // record every game and play its replay back
    bool timing = true;           // false leaves the clock out of the summary, for golden output
    long long max_ticks = 200000; // a game still going after this many ticks is stuck
    bool given = false;           // some tournament option was on the command line
};

// True when argv[*i] is a tournament option; then its value (if any) is consumed and *i moved past it.
// Throws ScriptError for a missing or malformed value.
bool parse_tournament_option(int argc, char** argv, int* i, TournamentOptions* options);

// Plays the games on the open window from the intro on; prints a line per game and a summary.
// Returns the driver's exit code.
int run_tournament(const TournamentOptions& options, plat::Window* window);

}  // namespace sim
