// Plays a recording back into the running game through the window procedure's way in, so that it is
// the same game draw for draw, and checks its hashes on the way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "replay/stream.h"

namespace replay {

// Hands a message to the game: the front end's feed.
using Deliver = std::function<void(uint32_t message, uint32_t wParam, int32_t lParam)>;

class Playback {
public:
    Playback(const Recording& game, Deliver deliver) : game_(game), deliver_(std::move(deliver)) {}

    // Restores the start state, which needs the map pair the game was played on. False with a reason.
    bool start(std::string* why);
    // Delivers the inputs due and the next tick; false, doing nothing, once the game is over. With the
    // last tick go the inputs after it, and the final hash is checked.
    bool step();
    bool over() const { return started_ && tick_ > game_.ticks; }
    // Ticks delivered so far.
    uint32_t tick() const { return tick_ > game_.ticks ? game_.ticks : tick_; }

    // The first tick whose hash differed from the recorded one, -1 while none has; the final hash counts
    // as the tick after the last.
    int64_t first_mismatch() const { return mismatch_; }
    uint64_t expected_hash() const { return expected_; }
    uint64_t actual_hash() const { return actual_; }

private:
    void deliver_inputs_at(uint32_t tick);
    void check(int64_t at, uint64_t expected);

    const Recording& game_;
    Deliver deliver_;
    bool started_ = false;
    uint32_t tick_ = 0;
    size_t next_input_ = 0;
    int64_t mismatch_ = -1;
    uint64_t expected_ = 0, actual_ = 0;
};

}  // namespace replay
