// What the server keeps of a desync, to find its cause later: the names of the state's pieces in which
// a client's game and the room's part ways, and the room's game as a replay from its Start press.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "online/protocol.h"
#include "online/room.h"

namespace online {

// "picture of the map, units" for the pieces that differ (replay::state_piece_names), or why the two
// cannot be compared.
std::string differing_pieces(const std::vector<uint64_t>& ours, const std::vector<uint64_t>& theirs);

// Writes the room's game in play as a replay into the folder, made if need be, keeping the newest
// `keep` there. The path written; empty with a reason when there is no game in play or it cannot.
std::string keep_desync_replay(const std::string& folder, Room& room, size_t keep, std::string* why);

}  // namespace online
