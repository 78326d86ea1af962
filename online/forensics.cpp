// Desync forensics: see forensics.h.
#include "online/forensics.h"

#include <filesystem>

#include "replay/file.h"
#include "replay/state.h"

namespace online {

std::string differing_pieces(const std::vector<uint64_t>& ours, const std::vector<uint64_t>& theirs) {
    const std::vector<std::string>& names = replay::state_piece_names();
    if (ours.size() != names.size() || theirs.size() != names.size())
        return "the client's digest has " + std::to_string(theirs.size()) + " pieces, the room's " +
               std::to_string(ours.size()) + ": another build";
    std::string list;
    for (size_t i = 0; i < names.size(); i++)
        if (ours[i] != theirs[i]) list += (list.empty() ? "" : ", ") + names[i];
    return list.empty() ? "no piece (the digest matches)" : list;
}

std::string keep_desync_replay(const std::string& folder, Room& room, size_t keep, std::string* why) {
    replay::Recording game;
    if (!room.recording(&game)) {
        *why = "no game in play, only the title screen";
        return std::string();
    }
    // Named in full, for the log: a server's working folder is a temporary one of its own.
    std::error_code ec;
    std::string where = std::filesystem::absolute(folder, ec).string();
    if (!ec) std::filesystem::create_directories(where, ec);
    if (ec) {
        *why = "cannot make " + folder + ": " + ec.message();
        return std::string();
    }
    return replay::keep_replay(where, game, keep, why);
}

}  // namespace online
