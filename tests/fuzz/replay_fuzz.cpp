// Fuzz target for replay files: decode_replay, and for a file that decodes, its start snapshot restored
// into the headless game and its first steps played through the window procedure, as vantor --replay
// plays them. Nearly every mutation breaks the checksum, so a file refused for that is tried again
// with its checksum made right, which lets the fuzzer reach the counts, the inputs and the game.
//
// Aborts when a refusal gives no reason, when a file that decodes does not encode back to one of its
// own length that decodes to the same, or when the playback does not end after its ticks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "headless_game.h"
#include "replay/file.h"
#include "replay/playback.h"

namespace {

// Steps and messages played of one input: enough for a missile's flight, and a bound on the time.
constexpr uint32_t kMaxSteps = 400;
constexpr uint32_t kMaxMessages = 4000;

bool decode(const uint8_t* data, size_t size, replay::Recording* game) {
    std::string why;
    if (replay::decode_replay(data, size, game, &why)) return true;
    if (why.empty()) std::abort();
    return false;
}

void play(const replay::Recording& game) {
    fuzz::fresh_game();
    uint32_t messages = 0;
    replay::Playback playback(game, [&messages](uint32_t message, uint32_t wParam, int32_t lParam) {
        if (++messages <= kMaxMessages) fuzz::deliver(message, wParam, lParam);
    });
    std::string why;
    if (!playback.start(&why)) {
        if (why.empty()) std::abort();
        return;
    }
    // A playback is one step a tick and one for the inputs after the last, then over.
    uint64_t steps = 0;
    while (steps < kMaxSteps && playback.step()) steps++;
    if (steps < kMaxSteps && (steps != uint64_t{game.ticks} + 1 || !playback.over())) std::abort();
    if (playback.tick() > game.ticks) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    replay::Recording game;
    bool decoded = decode(data, size, &game);
    std::vector<uint8_t> mended;
    if (!decoded && size >= 8 + 4 + 8) {
        mended.assign(data, data + size);
        uint64_t sum = XXH3_64bits(mended.data(), size - 8);
        std::memcpy(mended.data() + size - 8, &sum, 8);
        decoded = decode(mended.data(), size, &game);
    }
    if (!decoded) return 0;

    // The writer and the reader agree: every field has a fixed size, so the file written again has the
    // input's length, and it reads back to a recording that is written the same.
    std::vector<uint8_t> again = replay::encode_replay(game);
    replay::Recording reread;
    if (again.size() != size || !decode(again.data(), again.size(), &reread) || replay::encode_replay(reread) != again)
        std::abort();

    play(game);
    return 0;
}
