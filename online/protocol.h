// The messages of online play and their bytes: one message a WebSocket message, little-endian, its type
// first (docs/ONLINE.md). Decoding is strict: a message of the wrong length, of an unknown type or with a
// field out of range is no message at all. Also the room codes and the tokens that seat a player.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace online {

// Changes whenever the messages, the snapshot or the rules change: client and server must play the
// same game.
constexpr uint32_t kProtocolVersion = 1;

// No message is longer, a snapshot included; a reason is at most this many characters.
constexpr size_t kMaxMessage = 256 * 1024;
constexpr size_t kMaxReason = 200;
// Inputs in one frame: far more than the rate limit lets the players of a room send in a tick.
constexpr size_t kMaxFrameInputs = 1024;
// The sides of a game, and so the players of a room.
constexpr int kMaxPlayers = 4;
// Clients report their state's hash at every tick that is a multiple of this.
constexpr uint32_t kHashTicks = 10;

enum Type : uint8_t {
    kCreate = 0x01,
    kJoin = 0x02,
    kInput = 0x03,
    kHash = 0x04,
    kWelcome = 0x81,
    kSnapshot = 0x82,
    kFrame = 0x83,
    kRefuse = 0x84,
};

// 16 random bytes that take a player's seat back after a drop; all zeros asks for a new seat.
using Token = std::array<uint8_t, 16>;

// A room's name: 40 random bits, shown as 8 characters of Crockford's base32, XXXX-XXXX.
struct RoomCode {
    uint64_t value = 0;
    bool operator==(const RoomCode&) const = default;
};

constexpr size_t kCodeLength = 8;
constexpr uint64_t kCodeLimit = uint64_t{1} << 40;

// "XXXX-XXXX".
std::string show_code(RoomCode code);
// A code as a player types it: either case, with or without the dash; O reads as 0, I and L as 1.
bool parse_code(std::string_view text, RoomCode* code);

// Random bytes from the kernel; aborts if it has none to give, which never happens once it has booted.
void random_bytes(void* out, size_t size);
RoomCode new_code();
// A token that is not all zeros.
Token new_token();
bool is_zero(const Token& token);

// A player's press, release or key, or a side changing hands, as the window procedure takes it. A
// player sends presses, releases and keys; a frame holds presses, releases and sides changing hands.
struct Input {
    uint32_t message = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
    bool operator==(const Input&) const = default;
};

// Client to server.
struct Create {
    uint32_t version = kProtocolVersion;
};
struct Join {
    uint32_t version = kProtocolVersion;
    RoomCode code;
    Token token{};
};
struct Hash {
    uint32_t tick = 0;
    uint64_t hash = 0;
};

// Server to client.
struct Welcome {
    RoomCode code;
    uint8_t side = 0;
    bool creator = false;
    Token token{};
};
// The room's game at the tick: the client's game becomes it.
struct Snapshot {
    uint32_t tick = 0;
    std::vector<uint8_t> bytes;
};
// The inputs, in order, then one tick; the client's game is then at the tick.
struct Frame {
    uint32_t tick = 0;
    std::vector<Input> inputs;
};
// Why the server will not go on; it closes the connection after.
struct Refuse {
    std::string reason;
};

using ToServer = std::variant<Create, Join, Input, Hash>;
using ToClient = std::variant<Welcome, Snapshot, Frame, Refuse>;

std::vector<uint8_t> encode(const Create& m);
std::vector<uint8_t> encode(const Join& m);
std::vector<uint8_t> encode(const Input& m);
std::vector<uint8_t> encode(const Hash& m);
std::vector<uint8_t> encode(const Welcome& m);
std::vector<uint8_t> encode(const Snapshot& m);
std::vector<uint8_t> encode(const Frame& m);
// A reason longer than kMaxReason is cut, and characters outside printable ASCII become '?'.
std::vector<uint8_t> encode(const Refuse& m);

// Nothing when the bytes are not exactly one message of that direction.
std::optional<ToServer> decode_to_server(const uint8_t* data, size_t size);
std::optional<ToClient> decode_to_client(const uint8_t* data, size_t size);

}  // namespace online
