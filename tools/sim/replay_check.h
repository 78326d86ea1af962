// A tournament's games checked against their own replays.
#pragma once

#include <string>

#include "replay/stream.h"

namespace sim {

// Writes the recording out in the replay format, reads it back and plays it in a game of its own, on
// a thread of its own so that the game that recorded it is left as it stands. Empty when every hash
// matched; otherwise what went wrong.
std::string check_replay(const replay::Recording& recorded);

}  // namespace sim
