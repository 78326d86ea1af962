// The SDL sound backend: one channel fed through SDL's audio queue, each WAVE decoded once.
// An open device keeps a thread of SDL's feeding it silence between sounds, a few dozen wake-ups a
// second, so the device is closed once it has been quiet for a second and opened again by the
// next sound.
#include <SDL.h>
#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif
#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "platform/resources.h"
#include "platform/sound.h"

namespace plat {

namespace {

struct WavDeleter {
    void operator()(Uint8* samples) const { SDL_FreeWAV(samples); }
};

// The sounds are recorded at this rate, 8-bit mono; the device may give something else.
constexpr int kRate = 32000;

// How long the device stays open after its last sound has ended.
constexpr Uint64 kLinger_ms = 1000;
// How long past that a device may still hold samples before it counts as stalled.
constexpr Uint64 kStalled_ms = 4000;

bool g_audio = false;  // the audio subsystem is up: there is a device to open
SDL_AudioDeviceID g_device = 0;
SDL_AudioSpec g_have{};
Uint64 g_quiet_from_ms = 0;  // when what was last queued has played out
bool g_reopen_failed = false;
bool g_on = true;  // the player's switch
// Every sound in the device's format, keyed by where its WAVE data lives (resources never move).
std::map<const unsigned char*, std::vector<Uint8>> g_decoded;

void ignore_alsa_error(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                       const char* /*fmt*/, ...) {}

// Without a sound card the ALSA library prints a page of complaints while SDL looks for a device.
// The one line we print says it all, so ALSA's own messages are turned off when it is present.
void quiet_alsa() {
#ifdef __EMSCRIPTEN__
    // The browser plays through Web Audio: there is no ALSA to quiet.
    return;
#endif
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa) return;
    auto set_handler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set_handler) set_handler(ignore_alsa_error);
    // The library stays loaded: SDL uses it, and the handler must stay valid as long as it does.
}

// Converts samples to the device's format; empty when SDL cannot. (SDL_AudioCVT rather than an
// audio stream: this SDL's streams drop the last few hundred samples when they resample.)
std::vector<Uint8> convert(const SDL_AudioSpec& from, const Uint8* samples, Uint32 size) {
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, from.format, from.channels, from.freq, g_have.format, g_have.channels,
                          g_have.freq) < 0)
        return {};
    std::vector<Uint8> buffer(static_cast<size_t>(size) * static_cast<size_t>(std::max(cvt.len_mult, 1)));
    std::copy(samples, samples + size, buffer.begin());
    if (!cvt.needed) {
        buffer.resize(size);
        return buffer;
    }
    cvt.buf = buffer.data();
    cvt.len = static_cast<int>(size);
    if (SDL_ConvertAudio(&cvt) != 0) return {};
    buffer.resize(static_cast<size_t>(cvt.len_cvt));
    return buffer;
}

// A WAVE that cannot be read decodes to nothing and so plays nothing.
std::vector<Uint8> decode(const char* name, const unsigned char* wav, size_t size) {
    SDL_AudioSpec format{};
    Uint8* raw = nullptr;
    Uint32 length = 0;
    SDL_RWops* rw = size <= INT_MAX ? SDL_RWFromConstMem(wav, static_cast<int>(size)) : nullptr;
    if (!rw || !SDL_LoadWAV_RW(rw, 1, &format, &raw, &length)) {
        std::fprintf(stderr, "vantor: the sound %s cannot be read (%s)\n", name, SDL_GetError());
        return {};
    }
    std::unique_ptr<Uint8, WavDeleter> samples(raw);
    // A built-in sound is decoded once, so its bytes need not stay in memory.
    release_resource_pages(wav, size);
    return convert(format, samples.get(), length);
}

const std::vector<Uint8>& decoded(const char* name, const unsigned char* wav, size_t size) {
    auto found = g_decoded.find(wav);
    if (found != g_decoded.end()) return found->second;
    return g_decoded.emplace(wav, decode(name, wav, size)).first->second;
}

// Opens the default device and starts it; 0 when there is none.
SDL_AudioDeviceID open_device() {
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_U8;
    want.channels = 1;
    want.samples = 1024;
    SDL_AudioSpec have{};
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (device == 0) return 0;
    // A device opened again may take another format: the sounds are then converted anew.
    if (have.freq != g_have.freq || have.format != g_have.format || have.channels != g_have.channels)
        g_decoded.clear();
    g_have = have;
    g_quiet_from_ms = SDL_GetTicks64();
    SDL_PauseAudioDevice(device, 0);
    return device;
}

void close_device() {
    if (g_device == 0) return;
    SDL_CloseAudioDevice(g_device);
    g_device = 0;
}

// Milliseconds that this many bytes in the device's format take to play.
Uint64 duration_ms(size_t bytes) {
    size_t frame = static_cast<size_t>(SDL_AUDIO_BITSIZE(g_have.format) / 8) * std::max<size_t>(g_have.channels, 1);
    if (g_have.freq <= 0 || frame == 0) return 0;
    return static_cast<Uint64>(bytes / frame) * 1000 / static_cast<Uint64>(g_have.freq);
}

#ifdef __EMSCRIPTEN__
// A sound asked for before the game's first frame is shown, kept until then (sound_frame_shown). The
// window's first frame is the black one before start-up; the second has the game drawn.
struct Pending {
    const char* name = nullptr;
    const unsigned char* wav = nullptr;
    size_t size = 0;
};
int g_frames_shown = 0;
Pending g_pending;
#endif

// Whether a sound can be heard: in the browser, not before the player's first click, tap or key.
bool may_play() {
#ifdef __EMSCRIPTEN__
    return EM_ASM_INT({ return !navigator.userActivation || navigator.userActivation.hasBeenActive ? 1 : 0; }) != 0;
#else
    return true;
#endif
}

}  // namespace

void sound_open() {
    if (g_audio) return;
    quiet_alsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "vantor: no audio device, playing silently (%s)\n", SDL_GetError());
        return;
    }
#ifndef __EMSCRIPTEN__
    g_device = open_device();
    if (g_device == 0) {
        std::fprintf(stderr, "vantor: no audio device, playing silently (%s)\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
#endif
    // In the browser the first sound that may be heard opens the device, after the first frame.
    g_audio = true;
    g_reopen_failed = false;
}

// The new sound replaces whatever is still queued: one channel, no mixing.
void sound_play(const char* name, const unsigned char* wav, size_t size) {
    if (!g_on || !g_audio || !wav || size == 0) return;
#ifdef __EMSCRIPTEN__
    if (g_device == 0 && g_frames_shown < 2) {
        g_pending = {name, wav, size};
        return;
    }
#endif
    if (g_device == 0 && !may_play()) return;
    if (g_device == 0) {
        g_device = open_device();
        if (g_device == 0) {
            // The device went away while closed (unplugged, taken): say so once and stay silent
            // until a later sound finds it again.
            if (!g_reopen_failed)
                std::fprintf(stderr, "vantor: the audio device is gone, playing silently (%s)\n", SDL_GetError());
            g_reopen_failed = true;
            return;
        }
        g_reopen_failed = false;
    }
    const std::vector<Uint8>& samples = decoded(name ? name : "?", wav, size);
    SDL_ClearQueuedAudio(g_device);
    if (!samples.empty()) SDL_QueueAudio(g_device, samples.data(), static_cast<Uint32>(samples.size()));
    g_quiet_from_ms = SDL_GetTicks64() + duration_ms(samples.size());
}

int sound_idle() {
    if (g_device == 0) return -1;
    Uint64 now = SDL_GetTicks64();
    Uint64 close_at = g_quiet_from_ms + kLinger_ms;
    // The queue is the final word, as the device may run a little behind the clock; but a device
    // that has stopped taking samples is closed all the same, rather than watched for ever.
    if (now >= close_at && (SDL_GetQueuedAudioSize(g_device) == 0 || now >= close_at + kStalled_ms)) {
        close_device();
        return -1;
    }
    if (now >= close_at) return 50;
    return static_cast<int>(std::min<Uint64>(close_at - now, INT_MAX));
}

void sound_switch(bool on) {
    g_on = on;
    // What is still queued stops at once; the idle device closes as after any sound.
    if (!on && g_device != 0) SDL_ClearQueuedAudio(g_device);
}

bool sound_is_on() { return g_on; }

void sound_frame_shown() {
#ifdef __EMSCRIPTEN__
    if (g_frames_shown >= 2 || ++g_frames_shown < 2) return;
    if (g_pending.wav) sound_play(g_pending.name, g_pending.wav, g_pending.size);
#endif
}

void sound_close() {
    if (!g_audio) return;
    close_device();
    g_decoded.clear();
    g_have = SDL_AudioSpec{};
    g_audio = false;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (SDL_WasInit(0) == 0) SDL_Quit();
}

}  // namespace plat
