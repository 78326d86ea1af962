// The one hash of replays, snapshots and state: XXH3, 64 bits. On the desktop Debian's library picks
// the widest vector unit the processor has; the browser build has the header alone. Every way gives
// the same value for the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && !defined(__EMSCRIPTEN__)
#include <xxh_x86dispatch.h>
#else
#define XXH_INLINE_ALL
#include <xxhash.h>
#endif

namespace replay {

inline uint64_t hash64(const void* data, size_t size, uint64_t seed = 0) { return XXH3_64bits_withSeed(data, size, seed); }

}  // namespace replay
