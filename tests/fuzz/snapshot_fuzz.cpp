// Fuzz target for snapshots on their own, whose checks must hold without a replay file's checksum.
// An input that starts with the snapshot's magic is restored as it is. Any other is the inside of one:
// a little-endian u32 n, n bytes as they are, and a raw deflate stream of the rest (a snapshot's
// pictures, megabytes of mostly zeros). The target packs that into a snapshot as the game writes one,
// so that the fuzzer changes the globals and the pictures' rows themselves rather than the zlib stream
// and its Adler-32, which hide them.
//
// Aborts when a refused snapshot gives no reason or changes the game, or when an accepted one, taken
// again at once, does not restore to the same state. An accepted snapshot is then played for a few
// seconds of ticks, clicks on the map and the panel, and a paint.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headless_game.h"
#include "model/equates.h"
#include "platform/window.h"
#include "replay/state.h"

namespace {

// A snapshot inflates to 16 MiB at most; the inside of one is cut there.
constexpr size_t kMaxInside = 16u * 1024 * 1024;

std::vector<uint8_t> inflate_raw(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return out;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    uint8_t chunk[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK && out.size() < kMaxInside) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (z.avail_out == sizeof chunk) break;
    }
    inflateEnd(&z);
    if (out.size() > kMaxInside) out.resize(kMaxInside);
    return out;
}

// A snapshot of the given inside, with the magic and version of the game's own; stored, not packed,
// since the reader does not care and packing megabytes costs the fuzzer most of its time.
std::vector<uint8_t> pack(const std::vector<uint8_t>& inside) {
    static const std::vector<uint8_t> own = replay::take_snapshot();
    uLongf packed = compressBound(static_cast<uLong>(inside.size()));
    std::vector<uint8_t> out(12 + packed);
    std::memcpy(out.data(), own.data(), 8);
    auto raw_size = static_cast<uint32_t>(inside.size());
    std::memcpy(out.data() + 8, &raw_size, 4);
    if (compress2(out.data() + 12, &packed, inside.data(), static_cast<uLong>(inside.size()), Z_NO_COMPRESSION) != Z_OK)
        std::abort();
    out.resize(12 + packed);
    return out;
}

std::vector<uint8_t> snapshot_of(const uint8_t* data, size_t size) {
    if (size >= 4 && std::memcmp(data, "VTSN", 4) == 0) return {data, data + size};
    uint32_t n = 0;
    if (size >= 4) std::memcpy(&n, data, 4);
    size_t head = size >= 4 ? 4 : size;
    size_t plain = std::min<size_t>(n, size - head);
    std::vector<uint8_t> inside(data + head, data + head + plain);
    std::vector<uint8_t> rest = inflate_raw(data + head + plain, size - head - plain);
    inside.insert(inside.end(), rest.begin(), rest.end());
    if (inside.size() > kMaxInside) inside.resize(kMaxInside);
    return pack(inside);
}

void tick(int n) {
    for (int i = 0; i < n; i++) fuzz::deliver(plat::WM_TIMER, TIMER_ID, 0);
}

void click(int x, int y) {
    fuzz::deliver(plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y));
    fuzz::deliver(plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::fresh_game();
    std::vector<uint8_t> snapshot = snapshot_of(data, size);
    uint64_t before = replay::state_hash();
    std::string why;
    if (!replay::restore_snapshot(snapshot.data(), snapshot.size(), &why)) {
        if (why.empty() || replay::state_hash() != before) std::abort();
        return 0;
    }
    uint64_t restored = replay::state_hash();
    std::vector<uint8_t> again = replay::take_snapshot();
    if (!replay::restore_snapshot(again.data(), again.size(), &why) || replay::state_hash() != restored) std::abort();

    // Play on: ticks, a click on the map, on the dial, the power bar and Fire, and a paint.
    tick(30);
    click(300, 200);
    click(365, 431);
    click(540, 419);
    click(575, 430);
    tick(50);
    fuzz::deliver(plat::WM_PAINT, 0, 0);
    return 0;
}
