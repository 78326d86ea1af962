// Runs a script of commands against the open game window.
#pragma once

#include <istream>
#include <string>

#include "platform/window.h"

namespace sim {

// Exit codes of the driver.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;       // no window, or a file that cannot be written
constexpr int kExitBadScript = 2;    // an unknown command, a malformed argument, a bad command line
constexpr int kExitNotReached = 3;   // until gave up

// A well-formed command that could not do its work: until ran out of ticks, a file was not written.
struct Failure {
    int code;
    std::string message;
};

class Follower;

// Reads commands one per line until the end of input or the first failure; returns the exit code.
// With a follower the game follows its room: clicks go to the room, and tick, until and wait wait for it.
int run_script(std::istream& in, plat::Window* window, Follower* follower = nullptr);

}  // namespace sim
