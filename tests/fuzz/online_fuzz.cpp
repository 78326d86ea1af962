// Fuzz target for the messages of online play. Both decoders take every input. Whatever one accepts
// must encode back to exactly the same bytes, since every message but an old create has one way to be
// written; a frame the client's decoder accepts is then played into a headless game as a client plays
// it, its inputs and a tick, from the title screen and from a game in play. Aborts when the bytes do not come back.
#include <cstdint>
#include <cstdlib>
#include <variant>
#include <vector>

#include "headless_game.h"
#include "model/equates.h"
#include "online/protocol.h"
#include "platform/window.h"

namespace {

template <typename Variant>
std::vector<uint8_t> encode_any(const Variant& message) {
    return std::visit([](const auto& m) { return online::encode(m); }, message);
}

void play(const online::ServerFrame& frame) {
    for (const GameInput& input : frame.inputs) {
        plat::Message msg = to_message(input);
        fuzz::deliver(msg.message, msg.wParam, msg.lParam);
    }
    fuzz::deliver(plat::WM_TIMER, TIMER_ID, 0);
}

void click(int x, int y) {
    fuzz::deliver(plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y));
    fuzz::deliver(plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    // The one message with two ways: the create of a client of before open rooms has no open byte.
    bool old_create = size == online::ClientCreate::kOldSize && data[0] == 0x01;
    if (std::optional<online::ToServer> m = online::decode_to_server(data, size))
        if (encode_any(*m) != bytes && !old_create) std::abort();
    std::optional<online::ToClient> m = online::decode_to_client(data, size);
    if (!m) return 0;
    if (encode_any(*m) != bytes) std::abort();
    const auto* frame = std::get_if<online::ServerFrame>(&*m);
    if (!frame) return 0;
    // On the title screen, then after the Start control and the placing of the units.
    fuzz::fresh_game();
    for (int i = 0; i < 20; i++) fuzz::deliver(plat::WM_TIMER, TIMER_ID, 0);
    click(300, 200);
    play(*frame);
    click(380, 340);
    for (int i = 0; i < 200; i++) fuzz::deliver(plat::WM_TIMER, TIMER_ID, 0);
    play(*frame);
    return 0;
}
