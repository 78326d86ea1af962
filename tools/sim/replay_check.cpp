#include "replay_check.h"

#include <thread>

#include "app/app.h"
#include "json.h"
#include "model/globals.h"
#include "replay/file.h"
#include "replay/playback.h"

namespace sim {

namespace {

// On the calling thread, whose globals must be free for a game.
std::string play_back(const replay::Recording& recorded) {
    std::vector<uint8_t> bytes = replay::encode_replay(recorded);
    replay::Recording game;
    std::string why;
    if (!replay::decode_replay(bytes.data(), bytes.size(), &game, &why)) return "it does not read back: " + why;
    if (!openwindow()) return "the window cannot be opened";
    plat::Window* window = hwnd;
    replay::Playback playback(game, [window](uint32_t message, uint32_t wParam, int32_t lParam) {
        feed(window, message, wParam, lParam);
    });
    if (!playback.start(&why)) {
        why = "it does not start: " + why;
    } else {
        while (playback.step()) {
        }
        if (playback.first_mismatch() >= 0)
            why = "tick " + std::to_string(playback.first_mismatch()) + " differs: recorded " +
                  hex64(playback.expected_hash()) + ", played " + hex64(playback.actual_hash());
    }
    plat::destroy_window(window);
    hwnd = nullptr;
    return why;
}

}  // namespace

std::string check_replay(const replay::Recording& recorded) {
    std::string why;
    std::thread player([&] { why = play_back(recorded); });
    player.join();
    return why;
}

}  // namespace sim
