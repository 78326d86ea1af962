// The window's messages and the game's inputs, each into the other.
#include "model/input.h"

bool to_input(uint32_t message, uint32_t wParam, int32_t lParam, uint32_t tick, uint8_t side, GameInput* input) {
    GameInput in{tick, side};
    plat::MousePoint at = plat::lparam_point(lParam);
    switch (message) {
        case plat::WM_LBUTTONDOWN: in.kind = InputKind::kPress; break;
        case plat::WM_LBUTTONUP: in.kind = InputKind::kRelease; break;
        case plat::WM_KEYDOWN: in.kind = InputKind::kKey, in.code = wParam; break;
        case plat::WM_DROPFILES: in.kind = InputKind::kMapsAdded; break;
        case WM_SIDE:
            in.kind = InputKind::kSideHanded, in.side = static_cast<uint8_t>(wParam);
            in.code = static_cast<uint32_t>(lParam);
            break;
        default: return false;
    }
    if (in.kind == InputKind::kPress || in.kind == InputKind::kRelease)
        in.x = static_cast<uint16_t>(at.x), in.y = static_cast<uint16_t>(at.y);
    *input = in;
    return true;
}

bool known_kind(InputKind kind) { return kind >= InputKind::kPress && kind <= InputKind::kSideHanded; }

plat::Message to_message(const GameInput& input) {
    switch (input.kind) {
        case InputKind::kPress: return {nullptr, plat::WM_LBUTTONDOWN, 1, plat::make_lparam(input.x, input.y)};
        case InputKind::kRelease: return {nullptr, plat::WM_LBUTTONUP, 0, plat::make_lparam(input.x, input.y)};
        case InputKind::kKey: return {nullptr, plat::WM_KEYDOWN, input.code, 0};
        case InputKind::kMapsAdded: return {nullptr, plat::WM_DROPFILES, 0, 0};
        case InputKind::kSideHanded: return {nullptr, WM_SIDE, input.side, static_cast<int32_t>(input.code)};
    }
    return {};
}

void write_input(plat::ByteWriter& out, const GameInput& input) {
    out.put(input.side), out.put(static_cast<uint8_t>(input.kind));
    out.put(input.x), out.put(input.y), out.put(input.code);
}

GameInput read_input(plat::ByteReader& in) {
    GameInput input;
    input.side = in.get<uint8_t>();
    input.kind = static_cast<InputKind>(in.get<uint8_t>());
    input.x = in.get<uint16_t>(), input.y = in.get<uint16_t>(), input.code = in.get<uint32_t>();
    return input;
}
