// The list of open rooms that GET /rooms answers, as JSON, both ways: the server writes it, the
// desktop's `vantor --rooms` reads it. No sockets here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/protocol.h"

namespace online {

struct OpenRoom {
    RoomCode code;
    std::string map;
    int seated = 0;        // seats taken
    int free = 0;          // seats left
    int watchers = 0;      // watching, in no seat
    bool playing = false;  // past the title
    int64_t age = 0;       // seconds since it was created
};

// {"rooms":[{"code":"ABCD-EFGH","map":"world","seated":1,"free":3,"watchers":0,"state":"title","age":12},...]}
std::string rooms_json(const std::vector<OpenRoom>& rooms);
// The list, from the JSON above; none when the text is not such a list. Unknown keys are skipped,
// so that a newer server's list still reads.
std::optional<std::vector<OpenRoom>> parse_rooms_json(std::string_view text);
// One line a room, for a terminal: only printable ASCII.
std::string rooms_table(const std::vector<OpenRoom>& rooms);

}  // namespace online
