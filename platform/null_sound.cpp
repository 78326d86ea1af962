// Headless sound: records the name of each sound that starts and plays nothing.
#include <atomic>

#include "platform/context.h"
#include "platform/null.h"
#include "platform/sound.h"

namespace plat {

namespace {

SoundObserver g_observer = nullptr;
std::atomic<bool> g_on{true};

}  // namespace

void set_sound_observer(SoundObserver observer) { g_observer = observer; }

// Each game has a log of its own.
const std::vector<std::string>& sound_log() { return game_context().sounds; }

void clear_sound_log() { game_context().sounds.clear(); }

void sound_open() {}

void sound_play(const char* name, const unsigned char* /*wav*/, size_t /*size*/) {
    game_context().sounds.emplace_back(name);
    if (g_observer) g_observer(name);
}

void sound_close() {}

int sound_idle() { return -1; }

void sound_switch(bool on) { g_on = on; }

bool sound_is_on() { return g_on; }

void sound_frame_shown() {}

}  // namespace plat
