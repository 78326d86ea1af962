// Playing a recording back: the start snapshot, then each tick's inputs and the tick.
#include "replay/playback.h"

#include "model/equates.h"
#include "replay/state.h"

namespace replay {

bool Playback::start(std::string* why) {
    if (!restore_snapshot(game_.start.data(), game_.start.size(), why)) return false;
    started_ = true;
    tick_ = 0;
    next_input_ = 0;
    if (!game_.checkpoints.empty()) check(0, game_.checkpoints[0]);
    return true;
}

void Playback::deliver_inputs_at(uint32_t tick) {
    while (next_input_ < game_.inputs.size() && game_.inputs[next_input_].tick == tick) {
        plat::Message msg = to_message(game_.inputs[next_input_++]);
        deliver_(msg.message, msg.wParam, msg.lParam);
    }
}

void Playback::check(int64_t at, uint64_t expected) {
    uint64_t actual = state_hash();
    if (actual == expected || mismatch_ >= 0) return;
    mismatch_ = at;
    expected_ = expected;
    actual_ = actual;
}

bool Playback::step() {
    if (!started_ || tick_ > game_.ticks) return false;
    deliver_inputs_at(tick_);
    if (tick_ == game_.ticks) {
        tick_++;
        check(game_.ticks + 1, game_.final_hash);
        return true;
    }
    deliver_(plat::WM_TIMER, TIMER_ID, 0);
    tick_++;
    if (tick_ % kCheckpointTicks == 0 && tick_ / kCheckpointTicks < game_.checkpoints.size())
        check(tick_, game_.checkpoints[tick_ / kCheckpointTicks]);
    return true;
}

}  // namespace replay
