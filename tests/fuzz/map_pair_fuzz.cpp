// Fuzz target for the map-pair loader and check that the start control runs (decodemappair).
// An input is one BMP file, or two: when the size field of the first header (bytes 2-5) is smaller
// than the input, that many bytes are N.map and the rest N.tac; otherwise the input is both files.
// The options checked against (players, submarines) follow from the input's length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "init/init.h"
#include "model/globals.h"

namespace {

// An accepted pair is two 600 x 400 pictures; a refused one leaves nothing and says why in a line
// that fits the title screen's box.
void check(bool ok, const plat::Bitmap* map, const plat::Bitmap* tac, const std::string& why) {
    bool pictures = map && tac && map->width == MAP_WIDTH && map->height == MAP_HEIGHT && tac->width == MAP_WIDTH &&
                    tac->height == MAP_HEIGHT && map->pixels.size() == size_t{MAP_WIDTH} * MAP_HEIGHT &&
                    tac->pixels.size() == size_t{MAP_WIDTH} * MAP_HEIGHT;
    if (ok && (!pictures || !why.empty())) std::abort();
    if (!ok && (map || tac || why.empty() || why.size() >= sizeof title_message)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t split = size;
    if (size >= 6) {
        uint32_t declared = static_cast<uint32_t>(data[2]) | static_cast<uint32_t>(data[3]) << 8 |
                            static_cast<uint32_t>(data[4]) << 16 | static_cast<uint32_t>(data[5]) << 24;
        if (declared > 0 && declared < size) split = declared;
    }
    const uint8_t* tac = split < size ? data + split : data;
    size_t tac_size = split < size ? size - split : size;
    num_players = static_cast<uint8_t>(2 + size % 3);
    num_sub = static_cast<uint8_t>(size / 3 % 2 ? 0 : 3);

    plat::Bitmap* map_picture = nullptr;
    plat::Bitmap* tac_picture = nullptr;
    std::string why;
    bool ok = decodemappair("Fuzz", data, split, tac, tac_size, &map_picture, &tac_picture, &why);
    check(ok, map_picture, tac_picture, why);
    plat::delete_bitmap(map_picture);
    plat::delete_bitmap(tac_picture);
    return 0;
}
