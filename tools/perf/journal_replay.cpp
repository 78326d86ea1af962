// A room's journal in the cluster's Redis as a replay file, for vantor-sim --replay FILE --check: its
// snapshot, then its frames played in a headless game, recorded as the desktop records a game.
//   journal_replay --redis HOST:PORT --room XXXX-XXXX --out FILE
// Prints "tick T hash H": the game's tick and state hash at the journal's end, where a process that
// takes the room over rebuilds it. Exit 3 when the journal is not of one game in play (its snapshot on
// the title screen, where a replay cannot start, or the game ends within it), 1 for any other failure.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "model/globals.h"
#include "online/directory.h"
#include "online/protocol.h"
#include "platform/window.h"
#include "replay/file.h"
#include "replay/game.h"
#include "replay/state.h"
#include "replay/stream.h"
#include "tests/online/harness.h"

namespace {

int fail(const std::string& why) {
    std::fprintf(stderr, "journal_replay: %s\n", why.c_str());
    return 1;
}

template <typename Message>
bool decode(const std::string& bytes, Message* out) {
    auto m = online::decode_to_client(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!m || !std::holds_alternative<Message>(*m)) return false;
    *out = std::get<Message>(*m);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string redis, room, out;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--redis") redis = argv[i + 1];
        else if (arg == "--room") room = argv[i + 1];
        else if (arg == "--out") out = argv[i + 1];
    }
    size_t colon = redis.rfind(':');
    if (argc != 7 || colon == std::string::npos || room.empty() || out.empty())
        return fail("usage: journal_replay --redis HOST:PORT --room XXXX-XXXX --out FILE");
    online::DirectoryConfig config;
    config.host = redis.substr(0, colon);
    config.port = std::atoi(redis.c_str() + colon + 1);
    online::Directory directory(config);
    online::Journal journal;
    if (online::Outcome o = directory.journal(room, journal); o != online::Outcome::ok)
        return fail("no journal of room " + room + ": " + online::to_string(o));
    online::ServerSnapshot snapshot;
    if (!decode(journal.snapshot, &snapshot)) return fail("the journal has no snapshot");

    online_test::work_in_empty_folder();
    online::GameHooks hooks = online_test::hooks();
    replay::Game game;
    replay::Game::Scope entered(game);
    if (!hooks.open()) return fail("no headless window");
    plat::Window* window = hwnd;
    std::string why;
    if (!replay::restore_snapshot(snapshot.bytes.data(), snapshot.bytes.size(), &why)) return fail(why);
    if (timer_mode == MODE_TITLE || timer_mode == MODE_INTRO) {
        std::printf("tick %u on the title screen: no replay\n", snapshot.tick);
        return 3;
    }
    replay::Recording recording;
    replay::Recorder recorder([&](replay::Recording&& r) { recording = std::move(r); });
    replay::set_listener(&recorder);
    recorder.begin();
    uint32_t tick = snapshot.tick;
    for (const std::string& bytes : journal.inputs) {
        online::ServerFrame frame;
        if (!decode(bytes, &frame) || frame.tick <= tick)
            return fail("a damaged frame after tick " + std::to_string(tick));
        for (; tick + 1 < frame.tick; tick++) hooks.deliver(plat::WM_TIMER, TIMER_ID, 0);
        for (const GameInput& input : frame.inputs) {
            plat::Message msg = to_message(input);
            hooks.deliver(msg.message, msg.wParam, msg.lParam);
        }
        hooks.deliver(plat::WM_TIMER, TIMER_ID, 0);
        tick = frame.tick;
    }
    uint64_t hash = replay::state_hash();
    if (!recorder.recording()) {
        std::printf("tick %u: the game ended within the journal\n", tick);
        return 3;
    }
    recorder.finish();
    replay::set_listener(nullptr);
    plat::destroy_window(window);
    hwnd = nullptr;
    if (!replay::write_replay(out, recording, &why)) return fail(why);
    std::printf("tick %u hash %016" PRIx64 "\n", tick, hash);
    return 0;
}
