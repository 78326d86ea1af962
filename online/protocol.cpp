// The messages' bytes, the room codes and the tokens.
#include "online/protocol.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/bytes.h"

namespace online {

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

// The value of a symbol as a player may type it; -1 for none.
int symbol_value(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == 'O') return 0;
    if (c == 'I' || c == 'L') return 1;
    for (int i = 0; i < 32; i++)
        if (kAlphabet[i] == c) return i;
    return -1;
}

// A message's bytes: its type, then its fields.
struct Out : plat::ByteWriter {
    Out(MessageType type, size_t size) : Out(std::vector<uint8_t>(), type, size) {}
    // Into an empty vector whose memory is used again.
    Out(std::vector<uint8_t> empty, MessageType type, size_t size) : ByteWriter(std::move(empty)) {
        reserve(size);
        put(static_cast<uint8_t>(type));
    }
    void put_code(RoomCode code) {
        for (size_t i = 0; i < kCodeLength; i++)
            put(static_cast<uint8_t>(kAlphabet[(code.value >> (35 - 5 * i)) & 31]));
    }
};

struct In : plat::ByteReader {
    using ByteReader::ByteReader;
    // The code as the server writes it: eight symbols of the alphabet, upper case.
    RoomCode get_code() {
        uint8_t text[kCodeLength] = {};
        take(text, sizeof text);
        uint64_t value = 0;
        for (uint8_t c : text) {
            const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
            if (!p) return fail(), RoomCode{};
            value = value << 5 | static_cast<uint64_t>(p - kAlphabet);
        }
        return RoomCode{value};
    }
};

bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// What a player may send: a press, a release or a key.
bool player_input(const GameInput& m) {
    return m.kind == InputKind::kPress || m.kind == InputKind::kRelease || m.kind == InputKind::kKey;
}

// What a frame may hold: the presses, releases and fast play keys a room took, and sides changing hands.
bool frame_input(const GameInput& m) {
    if (m.side >= kMaxPlayers) return false;
    return m.kind == InputKind::kPress || m.kind == InputKind::kRelease ||
           (m.kind == InputKind::kKey && fast_key(m.code)) || (m.kind == InputKind::kSideHanded && m.code <= 1);
}

}  // namespace

std::string show_code(RoomCode code) {
    std::string text;
    for (size_t i = 0; i < kCodeLength; i++) {
        if (i == 4) text += '-';
        text += kAlphabet[(code.value >> (35 - 5 * i)) & 31];
    }
    return text;
}

bool parse_code(std::string_view text, RoomCode* code) {
    uint64_t value = 0;
    size_t symbols = 0;
    for (size_t i = 0; i < text.size(); i++) {
        // One dash, between the halves.
        if (text[i] == '-' && symbols == 4 && i == 4) continue;
        int v = symbol_value(text[i]);
        if (v < 0 || symbols == kCodeLength) return false;
        value = value << 5 | static_cast<uint64_t>(v);
        symbols++;
    }
    if (symbols != kCodeLength) return false;
    code->value = value;
    return true;
}

void random_bytes(void* out, size_t size) {
    auto* p = static_cast<uint8_t*>(out);
#ifdef __EMSCRIPTEN__
    // The browser's crypto.getRandomValues, 256 bytes at a time.
    for (size_t done = 0; done < size; done += 256)
        if (getentropy(p + done, std::min<size_t>(256, size - done)) != 0) std::abort();
#else
    while (size > 0) {
        ssize_t got = getrandom(p, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) std::abort();
        p += got;
        size -= static_cast<size_t>(got);
    }
#endif
}

RoomCode new_code() {
    uint64_t value = 0;
    random_bytes(&value, sizeof value);
    return RoomCode{value % kCodeLimit};
}

Token new_token() {
    Token token{};
    do random_bytes(token.data(), token.size());
    while (is_zero(token));
    return token;
}

bool is_zero(const Token& token) {
    for (uint8_t b : token)
        if (b) return false;
    return true;
}

std::vector<uint8_t> encode(const ClientCreate& m) {
    Out out(m.kType, m.kSize);
    out.put(m.version);
    out.put(m.open);
    return out.take();
}

std::vector<uint8_t> encode(const ClientJoin& m) {
    Out out(m.kType, m.kSize);
    out.put(m.version);
    out.put_code(m.code);
    out.put_bytes(m.token.data(), m.token.size());
    return out.take();
}

std::vector<uint8_t> encode(const ClientInput& m) {
    Out out(m.kType, m.kSize);
    write_input(out, m.input);
    return out.take();
}

std::vector<uint8_t> encode(const ClientHash& m) {
    Out out(m.kType, m.kSize);
    out.put(m.tick), out.put(m.hash);
    return out.take();
}

std::vector<uint8_t> encode(const ClientWatch& m) {
    Out out(m.kType, m.kSize);
    out.put(m.version);
    out.put_code(m.code);
    return out.take();
}

std::vector<uint8_t> encode(const ClientDigest& m) {
    size_t count = std::min(m.pieces.size(), kMaxDigestPieces);
    Out out(m.kType, m.size(count));
    out.put(m.tick), out.put(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; i++) out.put(m.pieces[i]);
    return out.take();
}

std::vector<uint8_t> encode(const ServerAskDigest& m) {
    Out out(m.kType, m.kSize);
    out.put(m.tick);
    return out.take();
}

std::vector<uint8_t> encode(const ServerWelcome& m) {
    Out out(m.kType, m.kSize);
    out.put_code(m.code);
    out.put(m.side), out.put(m.creator);
    out.put_bytes(m.token.data(), m.token.size());
    out.put(m.watching), out.put(m.site);
    return out.take();
}

std::vector<uint8_t> encode(const ServerRoster& m) {
    Out out(m.kType, m.kSize);
    out.put(m.players), out.put(m.watchers);
    return out.take();
}

std::vector<uint8_t> encode(const ServerSnapshot& m) {
    Out out(m.kType, m.kHeadSize + m.bytes.size());
    out.put(m.tick);
    out.put_bytes(m.bytes.data(), m.bytes.size());
    return out.take();
}

std::vector<uint8_t> encode(const ServerFrame& m) {
    std::vector<uint8_t> bytes;
    encode(m, &bytes);
    return bytes;
}

void encode(const ServerFrame& m, std::vector<uint8_t>* into) {
    into->clear();
    Out out(std::move(*into), m.kType, m.size(m.inputs.size()));
    out.put(m.tick), out.put(static_cast<uint16_t>(m.inputs.size()));
    for (const GameInput& input : m.inputs) write_input(out, input);
    *into = out.take();
}

std::vector<uint8_t> encode(const ServerMoved& m) {
    if (m.address.size() > 255 || !std::all_of(m.address.begin(), m.address.end(), [](char c) {
            return printable(static_cast<uint8_t>(c));
        }))
        return {};
    Out out(m.kType, m.kHeadSize + m.address.size());
    out.put(static_cast<uint8_t>(m.address.size()));
    out.put_bytes(m.address.data(), m.address.size());
    return out.take();
}

std::vector<uint8_t> encode(const ServerRefuse& m) {
    std::string text = m.reason.substr(0, kMaxReason);
    for (char& c : text)
        if (!printable(static_cast<uint8_t>(c))) c = '?';
    Out out(m.kType, m.kHeadSize + text.size());
    out.put(static_cast<uint8_t>(text.size()));
    out.put_bytes(text.data(), text.size());
    return out.take();
}

namespace {

std::optional<ToServer> decode_server_message(MessageType type, In& in) {
    switch (type) {
        case MessageType::kClientCreate: {
            ClientCreate m;
            m.version = in.get<uint32_t>();
            if (in.left() > 0) m.open = in.get<bool>();
            if (in.done()) return m;
            break;
        }
        case MessageType::kClientJoin: {
            ClientJoin m;
            m.version = in.get<uint32_t>();
            m.code = in.get_code();
            in.take(m.token.data(), m.token.size());
            if (in.done()) return m;
            break;
        }
        case MessageType::kClientInput: {
            ClientInput m{read_input(in)};
            if (in.done() && player_input(m.input)) return m;
            break;
        }
        case MessageType::kClientHash: {
            ClientHash m;
            m.tick = in.get<uint32_t>(), m.hash = in.get<uint64_t>();
            if (in.done()) return m;
            break;
        }
        case MessageType::kClientWatch: {
            ClientWatch m;
            m.version = in.get<uint32_t>();
            m.code = in.get_code();
            if (in.done()) return m;
            break;
        }
        case MessageType::kClientDigest: {
            ClientDigest m;
            m.tick = in.get<uint32_t>();
            auto count = in.get<uint16_t>();
            if (!in.ok() || count > kMaxDigestPieces || in.left() != count * sizeof(uint64_t)) break;
            m.pieces.resize(count);
            for (uint64_t& piece : m.pieces) piece = in.get<uint64_t>();
            if (in.done()) return m;
            break;
        }
        default: break;
    }
    return std::nullopt;
}

std::optional<ToClient> decode_client_message(MessageType type, In& in) {
    switch (type) {
        case MessageType::kServerWelcome: {
            ServerWelcome m;
            m.code = in.get_code();
            m.side = in.get<uint8_t>();
            m.creator = in.get<bool>();
            in.take(m.token.data(), m.token.size());
            m.watching = in.get<bool>();
            m.site = in.get<bool>();
            if (in.done() && m.side < kMaxPlayers && is_zero(m.token) == m.watching) return m;
            break;
        }
        case MessageType::kServerSnapshot: {
            ServerSnapshot m;
            m.tick = in.get<uint32_t>();
            size_t left = in.left();
            const uint8_t* bytes = in.span(left);
            if (!bytes || left == 0) break;
            m.bytes.assign(bytes, bytes + left);
            return m;
        }
        case MessageType::kServerFrame: {
            ServerFrame m;
            m.tick = in.get<uint32_t>();
            auto count = in.get<uint16_t>();
            if (count > kMaxFrameInputs || in.left() != kInputBytes * count) break;
            m.inputs.resize(count);
            for (GameInput& input : m.inputs) {
                input = read_input(in);
                if (!frame_input(input)) return std::nullopt;
            }
            if (in.done()) return m;
            break;
        }
        case MessageType::kServerAskDigest: {
            ServerAskDigest m{in.get<uint32_t>()};
            if (in.done()) return m;
            break;
        }
        case MessageType::kServerRefuse: {
            ServerRefuse m;
            auto length = in.get<uint8_t>();
            if (!in.ok() || length > kMaxReason || in.left() != length) break;
            const uint8_t* text = in.span(length);
            if (!std::all_of(text, text + length, printable)) break;
            m.reason.assign(text, text + length);
            return m;
        }
        case MessageType::kServerMoved: {
            ServerMoved m;
            auto length = in.get<uint8_t>();
            if (!in.ok() || length == 0 || in.left() != length) break;
            const uint8_t* text = in.span(length);
            if (!std::all_of(text, text + length, printable)) break;
            m.address.assign(text, text + length);
            return m;
        }
        case MessageType::kServerRoster: {
            ServerRoster m;
            m.players = in.get<uint8_t>(), m.watchers = in.get<uint8_t>();
            if (in.done() && m.players < 1u << kMaxPlayers && m.watchers <= kMaxWatchers) return m;
            break;
        }
        default: break;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ToServer> decode_to_server(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxMessage) return std::nullopt;
    In in(data + kTypeSize, size - kTypeSize);
    return decode_server_message(static_cast<MessageType>(data[0]), in);
}

std::optional<ToClient> decode_to_client(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxMessage) return std::nullopt;
    In in(data + kTypeSize, size - kTypeSize);
    return decode_client_message(static_cast<MessageType>(data[0]), in);
}

}  // namespace online
