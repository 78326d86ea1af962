// A room's journal in the cluster's Redis as a replay file, for vantor-sim --replay FILE --check: its
// snapshot, then its frames played in a headless game, recorded as the desktop records a game.
//   journal_replay --redis HOST:PORT --out DIR [--wait] CODE...
// Reads every room's journal first, at once, and says "read N"; then for each room writes DIR/CODE.vrp
// and prints "CODE tick T hash H", the game's tick and state hash at the journal's end, where a
// process that takes the room over rebuilds it; or "CODE skipped: WHY" when the journal is not of one
// game in play (its snapshot on the title screen, where a replay cannot start, or a game that ends
// within it). Exit 1 when a journal cannot be read or played.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

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

template <typename Message>
bool decode(const std::string& bytes, Message* out) {
    auto m = online::decode_to_client(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!m || !std::holds_alternative<Message>(*m)) return false;
    *out = std::get<Message>(*m);
    return true;
}

int fail(const std::string& why) {
    std::fprintf(stderr, "journal_replay: %s\n", why.c_str());
    return 1;
}

// One room's journal played into a fresh headless game, recorded: false with why when it is not a
// game in play, *failed too when it cannot be played at all.
bool record(const online::Journal& journal, replay::Recording* recording, uint32_t* tick, uint64_t* hash,
            std::string* why, bool* failed) {
    online::ServerSnapshot snapshot;
    *failed = true;
    if (!decode(journal.snapshot, &snapshot)) return *why = "the journal has no snapshot", false;
    online::GameHooks hooks = online_test::hooks();
    replay::Game game;
    replay::Game::Scope entered(game);
    if (!hooks.open()) return *why = "no headless window", false;
    struct Closer {
        plat::Window* window = hwnd;
        ~Closer() { plat::destroy_window(window), hwnd = nullptr; }
    } closer;
    if (!replay::restore_snapshot(snapshot.bytes.data(), snapshot.bytes.size(), why)) return false;
    *failed = false;
    if (timer_mode == MODE_TITLE || timer_mode == MODE_INTRO) return *why = "on the title screen", false;
    replay::Recorder recorder([&](replay::Recording&& r) { *recording = std::move(r); });
    replay::set_listener(&recorder);
    recorder.begin();
    *tick = snapshot.tick;
    for (const std::string& bytes : journal.inputs) {
        online::ServerFrame frame;
        if (!decode(bytes, &frame) || frame.tick <= *tick) {
            replay::set_listener(nullptr);
            return *failed = true, *why = "a damaged frame after tick " + std::to_string(*tick), false;
        }
        for (; *tick + 1 < frame.tick; ++*tick) hooks.deliver(plat::WM_TIMER, TIMER_ID, 0);
        for (const GameInput& input : frame.inputs) {
            plat::Message msg = to_message(input);
            hooks.deliver(msg.message, msg.wParam, msg.lParam);
        }
        hooks.deliver(plat::WM_TIMER, TIMER_ID, 0);
        *tick = frame.tick;
    }
    *hash = replay::state_hash();
    bool whole = recorder.recording();
    recorder.finish();
    replay::set_listener(nullptr);
    if (!whole) *why = "its game ends within the journal";
    return whole;
}

}  // namespace

int main(int argc, char** argv) {
    std::string redis, out;
    std::vector<std::string> rooms;
    bool wait = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "--redis" || arg == "--out") && i + 1 < argc) (arg == "--redis" ? redis : out) = argv[++i];
        else if (arg == "--wait") wait = true;
        else rooms.push_back(arg);
    }
    size_t colon = redis.rfind(':');
    if (colon == std::string::npos || rooms.empty() || out.empty())
        return fail("usage: journal_replay --redis HOST:PORT --out DIR [--wait] CODE...");
    online::DirectoryConfig config;
    config.host = redis.substr(0, colon);
    config.port = std::atoi(redis.c_str() + colon + 1);
    online::Directory directory(config);
    std::vector<online::Journal> journals(rooms.size());
    for (size_t i = 0; i < rooms.size(); i++)
        if (online::Outcome o = directory.journal(rooms[i], journals[i]); o != online::Outcome::ok)
            return fail("no journal of room " + rooms[i] + ": " + online::to_string(o));
    std::printf("read %zu\n", rooms.size());
    std::fflush(stdout);
    // With --wait, the games are played once a line comes on the standard input: a test reads the
    // journals at a moment that matters and plays them when the machine is free.
    if (wait) {
        char line[16];
        if (!std::fgets(line, sizeof line, stdin)) return fail("no go on the standard input");
    }

    online_test::work_in_empty_folder();
    for (size_t i = 0; i < rooms.size(); i++) {
        replay::Recording recording;
        uint32_t tick = 0;
        uint64_t hash = 0;
        std::string why;
        bool failed = false;
        if (!record(journals[i], &recording, &tick, &hash, &why, &failed)) {
            if (failed) return fail("room " + rooms[i] + ": " + why);
            std::printf("%s skipped: %s\n", rooms[i].c_str(), why.c_str());
            continue;
        }
        if (!replay::write_replay(out + "/" + rooms[i] + ".vrp", recording, &why)) return fail(why);
        std::printf("%s tick %u hash %016" PRIx64 "\n", rooms[i].c_str(), tick, hash);
    }
    return 0;
}
