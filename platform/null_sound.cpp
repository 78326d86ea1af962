// Headless sound: records the name of each sound that starts and plays nothing.
#include <atomic>

#include "platform/null.h"
#include "platform/sound.h"

namespace plat {

namespace {

// Each thread's games have a log of their own.
SoundObserver g_observer = nullptr;
thread_local std::vector<std::string> g_log;
std::atomic<bool> g_on{true};

}  // namespace

void set_sound_observer(SoundObserver observer) { g_observer = observer; }

const std::vector<std::string>& sound_log() { return g_log; }

void clear_sound_log() { g_log.clear(); }

void sound_open() {}

void sound_play(const char* name, const unsigned char* /*wav*/, size_t /*size*/) {
    g_log.emplace_back(name);
    if (g_observer) g_observer(name);
}

void sound_close() {}

int sound_idle() { return -1; }

void sound_switch(bool on) { g_on = on; }

bool sound_is_on() { return g_on; }

void sound_frame_shown() {}

}  // namespace plat
