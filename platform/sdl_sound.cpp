// The SDL sound backend: one channel fed through SDL's audio queue, each WAVE decoded once.
#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "platform/sound.h"

namespace plat {

namespace {

struct WavDeleter {
    void operator()(Uint8* samples) const { SDL_FreeWAV(samples); }
};

// The sounds are recorded at this rate, 8-bit mono; the device may give something else.
constexpr int kRate = 32000;

SDL_AudioDeviceID g_device = 0;
SDL_AudioSpec g_have{};
// Every sound in the device's format, keyed by where its WAVE data lives (resources never move).
std::map<const unsigned char*, std::vector<Uint8>> g_decoded;

void ignore_alsa_error(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                       const char* /*fmt*/, ...) {}

// Without a sound card the ALSA library prints a page of complaints while SDL looks for a device.
// The one line we print says it all, so ALSA's own messages are turned off when it is present.
void quiet_alsa() {
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
    return convert(format, samples.get(), length);
}

const std::vector<Uint8>& decoded(const char* name, const unsigned char* wav, size_t size) {
    auto found = g_decoded.find(wav);
    if (found != g_decoded.end()) return found->second;
    return g_decoded.emplace(wav, decode(name, wav, size)).first->second;
}

}  // namespace

void sound_open() {
    if (g_device != 0) return;
    quiet_alsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "vantor: no audio device, playing silently (%s)\n", SDL_GetError());
        return;
    }
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_U8;
    want.channels = 1;
    want.samples = 1024;
    g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &g_have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (g_device == 0) {
        std::fprintf(stderr, "vantor: no audio device, playing silently (%s)\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    SDL_PauseAudioDevice(g_device, 0);
}

// The new sound replaces whatever is still queued: one channel, no mixing.
void sound_play(const char* name, const unsigned char* wav, size_t size) {
    if (g_device == 0 || !wav || size == 0) return;
    const std::vector<Uint8>& samples = decoded(name ? name : "?", wav, size);
    SDL_ClearQueuedAudio(g_device);
    if (!samples.empty()) SDL_QueueAudio(g_device, samples.data(), static_cast<Uint32>(samples.size()));
}

void sound_close() {
    if (g_device == 0) return;
    SDL_CloseAudioDevice(g_device);
    g_device = 0;
    g_decoded.clear();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (SDL_WasInit(0) == 0) SDL_Quit();
}

}  // namespace plat
