// The thread's listener and the recorder of games.
#include "replay/stream.h"

#include <cstring>

#include "model/globals.h"
#include "replay/state.h"

namespace replay {

namespace {

thread_local Listener* t_listener = nullptr;

}  // namespace

bool changes_state(uint32_t message) {
    switch (message) {
        case plat::WM_TIMER:
        case plat::WM_LBUTTONDOWN:
        case plat::WM_LBUTTONUP:
        case plat::WM_KEYDOWN:
        case plat::WM_DROPFILES:
        case WM_SIDE: return true;
        default: return false;
    }
}

void set_listener(Listener* listener) { t_listener = listener; }
Listener* listener() { return t_listener; }

void Recorder::before(const plat::Message& msg) {
    // The window closing ends the game cut short, while its state is still there to hash.
    if (msg.message == plat::WM_DESTROY) {
        finish();
        return;
    }
    mode_before_ = timer_mode;
    GameInput input;
    if (recording_ && to_input(msg.message, msg.wParam, msg.lParam, game_.ticks, cur_player, &input))
        game_.inputs.push_back(input);
}

void Recorder::after(const plat::Message& msg) {
    if (!recording_) {
        // The Start press: the title screen gave way to the placing of units.
        if (mode_before_ == MODE_TITLE && timer_mode == MODE_PLACING) begin();
        return;
    }
    if (msg.message == plat::WM_TIMER) {
        game_.ticks++;
        if (game_.ticks % kCheckpointTicks == 0) game_.checkpoints.push_back(state_hash());
    }
    if (timer_mode == MODE_TITLE) {
        game_.finished = true;
        finish();
    }
}

void Recorder::begin() {
    game_ = Recording{};
    game_.start = take_snapshot();
    game_.map.assign(loaded_map.letter, strnlen(loaded_map.letter, sizeof loaded_map.letter));
    game_.builtin = loaded_builtin;
    game_.map_hash = map_hash(hMainmap, hTacticalmap);
    game_.players = num_players;
    for (int side = 0; side < NUM_SIDES; side++)
        if (cpu_player[side]) game_.computer |= static_cast<uint8_t>(1u << side);
    game_.checkpoints.push_back(state_hash());
    recording_ = true;
}

Recording Recorder::so_far() const {
    Recording copy = game_;
    copy.final_hash = state_hash();
    copy.finished = false;
    return copy;
}

void Recorder::finish() {
    if (!recording_) return;
    recording_ = false;
    game_.final_hash = state_hash();
    Recording done = std::move(game_);
    game_ = Recording{};
    if (done_) done_(std::move(done));
}

}  // namespace replay
