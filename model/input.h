// A player's input as the game's own record: what replay files and online messages carry, so that
// renumbering the window's messages never changes a file or the wire. The window's messages are
// translated to it, and back, where they meet the game.
#pragma once

#include <cstdint>

#include "platform/bytes.h"
#include "platform/window.h"

// A side changes hands in online play: wParam the side, lParam 1 for the computer, 0 for a person. A
// message of the game's own, numbered above the platform's.
constexpr uint32_t WM_SIDE = 0x8001;
static_assert(WM_SIDE != plat::WM_WAKE);

enum class InputKind : uint8_t {
    kPress = 1,       // the left button pressed at (x, y)
    kRelease = 2,     // and released at (x, y)
    kKey = 3,         // a key: its code in `code`
    kMapsAdded = 4,   // map files were added to the working folder
    kSideHanded = 5,  // `side` changes hands: `code` 1 for the computer, 0 for a person
};

struct GameInput {
    uint32_t tick = 0;  // ticks of the recording before it; online, the frame's tick says when instead
    uint8_t side = 0;   // the side to move as it came, or the side handed over
    InputKind kind = InputKind::kPress;
    uint16_t x = 0, y = 0;  // a press or release: the point in the window's pixels
    uint32_t code = 0;
    bool operator==(const GameInput&) const = default;
};

// The input a window message is, with the tick and side it came at; false for a message that is
// none (a tick, a paint, the window closing).
bool to_input(uint32_t message, uint32_t wParam, int32_t lParam, uint32_t tick, uint8_t side, GameInput* input);
// One of the five kinds.
bool known_kind(InputKind kind);
// The window message that hands the input to the game.
plat::Message to_message(const GameInput& input);

// An input's bytes without its tick, as replay files and online messages hold them: u8 side, u8 kind,
// u16 x, u16 y, u32 code.
constexpr size_t kInputBytes = sizeof(uint8_t) * 2 + sizeof(uint16_t) * 2 + sizeof(uint32_t);
void write_input(plat::ByteWriter& out, const GameInput& input);
// Any kind is read: the reader of each format says which it takes.
GameInput read_input(plat::ByteReader& in);
