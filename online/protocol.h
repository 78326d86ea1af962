// The messages of online play and their bytes. Every message is one binary WebSocket message: its
// type in the first byte, then its fields in the order declared here, little-endian, nothing after
// them. Decoding is strict: a message of the wrong length, of an unknown type or with a field out of
// range is no message at all. Also the room codes and the tokens that seat a player.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/input.h"

namespace online {

// Changes whenever the messages, the snapshot or the rules change: client and server must play the
// same game.
constexpr uint32_t kProtocolVersion = 5;

// No message is longer, a snapshot included; a reason is at most this many characters.
constexpr size_t kMaxMessage = 256 * 1024;
constexpr size_t kMaxReason = 200;
// Inputs in one frame: far more than the rate limit lets the players of a room send in a tick.
constexpr size_t kMaxFrameInputs = 1024;
// The sides of a game, and so the players of a room; and the watchers a room takes beside them.
constexpr int kMaxPlayers = 4;
constexpr int kMaxWatchers = 16;

// The first byte of a message: client to server below 0x80, server to client from 0x80.
enum class MessageType : uint8_t {
    kClientCreate = 0x01,
    kClientJoin = 0x02,
    kClientInput = 0x03,
    kClientHash = 0x04,
    kClientWatch = 0x05,
    kClientDigest = 0x06,
    kServerWelcome = 0x81,
    kServerSnapshot = 0x82,
    kServerFrame = 0x83,
    kServerRefuse = 0x84,
    kServerRoster = 0x85,
    kServerAskDigest = 0x86,
    kServerMoved = 0x87,
};
constexpr size_t kTypeSize = sizeof(MessageType);

// The keys a player may send that a room's game takes: F and the space bar, fast play's, from the leader.
constexpr bool fast_key(uint32_t code) { return code == 'F' || code == plat::VK_SPACE; }

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

// --- Client to server -------------------------------------------------------------------------

// Asks for a new room, whose creator the sender is. Answered with ServerWelcome, or ServerRefuse.
struct ClientCreate {
    static constexpr MessageType kType = MessageType::kClientCreate;
    uint32_t version = kProtocolVersion;  // the client's kProtocolVersion; another is refused
    // One byte, 0 or 1: the room is listed in GET /rooms for anyone to join. A client of before open
    // rooms sends no such byte (kOldSize), and its room is not listed.
    bool open = false;
    static constexpr size_t kSize = kTypeSize + sizeof version + sizeof open;
    static constexpr size_t kOldSize = kTypeSize + sizeof version;
};

// Asks for a seat in the room of the code. Answered with ServerWelcome, or ServerRefuse. A new player
// (a zero token) who finds the four seats taken is welcomed as a watcher instead.
struct ClientJoin {
    static constexpr MessageType kType = MessageType::kClientJoin;
    uint32_t version = kProtocolVersion;  // the client's kProtocolVersion; another is refused
    RoomCode code;                        // kCodeLength symbols of the alphabet, upper case, no dash
    Token token{};                        // a seat's token takes that seat back; all zeros a new seat
    static constexpr size_t kSize = kTypeSize + sizeof version + kCodeLength + sizeof(Token);
};

// Asks to watch the room of the code: every frame, no seat, no input taken. Answered with ServerWelcome
// (watching), or ServerRefuse once kMaxWatchers watch.
struct ClientWatch {
    static constexpr MessageType kType = MessageType::kClientWatch;
    uint32_t version = kProtocolVersion;  // the client's kProtocolVersion; another is refused
    RoomCode code;                        // as in ClientJoin
    static constexpr size_t kSize = kTypeSize + sizeof version + kCodeLength;
};

// The player's press, release or key. The room decides whether its game takes it; a taken input comes
// back in the next ServerFrame. Only presses, releases and keys decode.
struct ClientInput {
    static constexpr MessageType kType = MessageType::kClientInput;
    GameInput input;  // kInputBytes, no tick; the side is the room's to say, 0 here
    static constexpr size_t kSize = kTypeSize + kInputBytes;
};

// The client's state hash after the frame of every tick that is a multiple of replay::kCheckpointTicks.
struct ClientHash {
    static constexpr MessageType kType = MessageType::kClientHash;
    uint32_t tick = 0;  // the frame's tick
    uint64_t hash = 0;  // replay::state_hash() after it
    static constexpr size_t kSize = kTypeSize + sizeof tick + sizeof hash;
};

// The pieces of the client's state hash at a tick, in answer to ServerAskDigest: the server logs
// which of them differ from the room's.
struct ClientDigest {
    static constexpr MessageType kType = MessageType::kClientDigest;
    uint32_t tick = 0;             // as asked
    // A u16 count, at most kMaxDigestPieces, then a u64 each: replay::state_hash's pieces, in the
    // order of replay::state_piece_names().
    std::vector<uint64_t> pieces;
    static constexpr size_t kHeadSize = kTypeSize + sizeof tick + sizeof(uint16_t);
    static constexpr size_t size(size_t pieces) { return kHeadSize + pieces * sizeof(uint64_t); }
};
constexpr size_t kMaxDigestPieces = 512;

// --- Server to client -------------------------------------------------------------------------

// The sender is seated, or watches.
struct ServerWelcome {
    static constexpr MessageType kType = MessageType::kServerWelcome;
    RoomCode code;          // the room's, as in ClientJoin
    uint8_t side = 0;       // the player's side, below kMaxPlayers; 0 for a watcher
    bool creator = false;   // one byte, 0 or 1: the player made the room
    Token token{};          // takes the seat back after a drop; all zeros exactly for a watcher
    bool watching = false;  // one byte, 0 or 1: a watcher, with no seat
    bool site = false;      // one byte, 0 or 1: the server serves the page on its own port
    static constexpr size_t kSize =
        kTypeSize + kCodeLength + sizeof side + sizeof creator + sizeof(Token) + sizeof watching + sizeof site;
};

// The room's game at the tick: the client's game becomes it. Sent at the first tick after
// ServerWelcome, and again when the client's hash differed from the room's.
struct ServerSnapshot {
    static constexpr MessageType kType = MessageType::kServerSnapshot;
    uint32_t tick = 0;           // the room's tick; frame tick + 1 follows
    std::vector<uint8_t> bytes;  // the rest of the message, not empty: replay::take_snapshot()
    static constexpr size_t kHeadSize = kTypeSize + sizeof tick;
};

// The inputs the room took, in order, then one tick; the client's game is then at the tick.
struct ServerFrame {
    static constexpr MessageType kType = MessageType::kServerFrame;
    uint32_t tick = 0;  // always one more than the last frame's or snapshot's
    // A u16 count, at most kMaxFrameInputs, then the inputs, kInputBytes each, no tick: presses,
    // releases and the fast play key with the side that made them, and sides handed over (side below
    // kMaxPlayers, code 0 or 1).
    std::vector<GameInput> inputs;
    static constexpr size_t kHeadSize = kTypeSize + sizeof tick + sizeof(uint16_t);
    static constexpr size_t size(size_t inputs) { return kHeadSize + inputs * kInputBytes; }
};

// Why the server will not go on; it closes the connection after.
struct ServerRefuse {
    static constexpr MessageType kType = MessageType::kServerRefuse;
    std::string reason;  // a u8 length, then at most kMaxReason characters of printable ASCII
    static constexpr size_t kHeadSize = kTypeSize + sizeof(uint8_t);
};

// Who is in the room: sent to everyone in it after their welcome, and whenever it changes.
struct ServerRoster {
    static constexpr MessageType kType = MessageType::kServerRoster;
    uint8_t players = 0;   // bit k: side k's player is connected; below 1 << kMaxPlayers
    uint8_t watchers = 0;  // at most kMaxWatchers
    bool operator==(const ServerRoster&) const = default;
    static constexpr size_t kSize = kTypeSize + sizeof players + sizeof watchers;
};

// The client's hash of the tick differed from the room's: answer with ClientDigest if the client still
// has the pieces of that tick. The repairing ServerSnapshot follows regardless.
struct ServerAskDigest {
    static constexpr MessageType kType = MessageType::kServerAskDigest;
    uint32_t tick = 0;  // the tick of the differing ClientHash
    static constexpr size_t kSize = kTypeSize + sizeof tick;
};

// The room of a Join lives on another process of the cluster: the client sends its hello again, once, to
// that address. The server closes the connection after.
struct ServerMoved {
    static constexpr MessageType kType = MessageType::kServerMoved;
    std::string address;  // a u8 length, then a ws:// or wss:// address with its path, printable ASCII
    static constexpr size_t kHeadSize = kTypeSize + sizeof(uint8_t);
};

using ToServer = std::variant<ClientCreate, ClientJoin, ClientInput, ClientHash, ClientWatch, ClientDigest>;
using ToClient =
    std::variant<ServerWelcome, ServerSnapshot, ServerFrame, ServerRefuse, ServerRoster, ServerAskDigest, ServerMoved>;

std::vector<uint8_t> encode(const ClientCreate& m);
std::vector<uint8_t> encode(const ClientJoin& m);
std::vector<uint8_t> encode(const ClientInput& m);
std::vector<uint8_t> encode(const ClientHash& m);
std::vector<uint8_t> encode(const ClientWatch& m);
std::vector<uint8_t> encode(const ClientDigest& m);
std::vector<uint8_t> encode(const ServerWelcome& m);
std::vector<uint8_t> encode(const ServerSnapshot& m);
std::vector<uint8_t> encode(const ServerFrame& m);
// The same bytes, over what the vector held: a room's tick allocates nothing once its buffers have grown.
void encode(const ServerFrame& m, std::vector<uint8_t>* into);
// A reason longer than kMaxReason is cut, and characters outside printable ASCII become '?'.
std::vector<uint8_t> encode(const ServerRefuse& m);
std::vector<uint8_t> encode(const ServerRoster& m);
std::vector<uint8_t> encode(const ServerAskDigest& m);
// An address longer than 255 characters, or not printable ASCII, is no message: empty.
std::vector<uint8_t> encode(const ServerMoved& m);

// Nothing when the bytes are not exactly one message of that direction.
std::optional<ToServer> decode_to_server(const uint8_t* data, size_t size);
std::optional<ToClient> decode_to_client(const uint8_t* data, size_t size);

}  // namespace online
