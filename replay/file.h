// Replay files: a recorded game in a small versioned format of our own, described in docs/REPLAYS.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "replay/stream.h"

namespace replay {

// 2: inputs are the game's own records (model/input.h), not window messages.
constexpr uint32_t kReplayVersion = 2;

// The file's bytes for a recording.
std::vector<uint8_t> encode_replay(const Recording& game);

// The recording in a file's bytes. False with a player's reason in *why when the bytes are not a
// replay, of another version, cut short or damaged; nothing of *game is to be used then.
bool decode_replay(const uint8_t* data, size_t size, Recording* game, std::string* why);

// Reads and decodes a replay file; the reason names the file.
bool read_replay(const std::string& path, Recording* game, std::string* why);

// Writes a replay file. False with a reason when it cannot.
bool write_replay(const std::string& path, const Recording& game, std::string* why);

// Where the game keeps the replays of the games played in its window: $XDG_DATA_HOME/vantor/replays,
// else $HOME/.local/share/vantor/replays; empty when neither is set.
std::string replay_folder();

// Writes a finished or cut-short game into the folder under a name of its time and map, and deletes the
// oldest files there beyond the newest `keep`. The path written, or empty with a reason.
std::string keep_replay(const std::string& folder, const Recording& game, size_t keep, std::string* why);

}  // namespace replay
