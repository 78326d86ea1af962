// Runs a script of commands against the open game window.
#pragma once

#include <istream>

#include "platform/window.h"

namespace sim {

// Exit codes of the driver.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;       // no window, or a file that cannot be written
constexpr int kExitBadScript = 2;    // an unknown command, a malformed argument, a bad command line
constexpr int kExitNotReached = 3;   // until gave up

// Reads commands one per line until the end of input or the first failure; returns the exit code.
int run_script(std::istream& in, plat::Window* window);

}  // namespace sim
