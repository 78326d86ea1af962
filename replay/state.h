// The whole state of the running game: a hash of it, cheap enough for every tick, and a snapshot of it
// as bytes that restores into another game so that it carries on exactly as the original would.
//
// The state is every global of the game but the front end's (the window and surface handles, fast play
// and the timer's period), every unit and missile slot with the generator's seed among them, which
// bitmap each drawing surface holds, and the pictures the rules read: the clean map, the map with its
// icons and the territories. The window's own picture is in a snapshot, for whoever joins late, but not
// in the hash: a paint redraws it from the state, and paints come from the desktop, not the inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace replay {

// The hash of the running game's state. Reads only the picture rows drawn since the last hash.
uint64_t state_hash();
// The same, and a hash of each piece the state is made of, in `pieces`, named by state_piece_names(): where two
// games whose states differ part ways.
uint64_t state_hash_pieces(std::vector<uint64_t>* pieces);
const std::vector<std::string>& state_piece_names();

// The hash of a map pair's two pictures: the name of a map's content in replays and snapshots.
uint64_t map_hash(const plat::Bitmap* mainmap, const plat::Bitmap* tacmap);

// The running game's state as compressed bytes.
std::vector<uint8_t> take_snapshot();

// Puts a snapshot into the running game, whose window is open: its map pair is read again by name and
// must be the one the snapshot was taken on. False with a reason in *why, and the game as it was,
// when the bytes are not a snapshot of this version or the map is missing or different.
bool restore_snapshot(const uint8_t* data, size_t size, std::string* why);

}  // namespace replay
