// The messages' bytes, the room codes and the tokens.
#include "online/protocol.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/window.h"

namespace online {

static_assert(std::endian::native == std::endian::little, "fields are written as the machine holds them");

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

struct Out {
    std::vector<uint8_t> bytes;
    explicit Out(Type type, size_t size = 0) {
        bytes.reserve(1 + size);
        bytes.push_back(type);
    }
    template <typename T>
    void put(T v) {
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        bytes.insert(bytes.end(), p, p + sizeof v);
    }
    void put_bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void put_code(RoomCode code) {
        for (size_t i = 0; i < kCodeLength; i++)
            put(static_cast<uint8_t>(kAlphabet[(code.value >> (35 - 5 * i)) & 31]));
    }
};

// Reads fields in order; ok turns false, for good, at the first that is missing.
struct In {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;
    bool take(void* p, size_t n) {
        if (!ok || static_cast<size_t>(end - at) < n) return ok = false;
        std::memcpy(p, at, n);
        at += n;
        return true;
    }
    template <typename T>
    T get() {
        T v{};
        take(&v, sizeof v);
        return v;
    }
    size_t left() const { return ok ? static_cast<size_t>(end - at) : 0; }
    // Every byte read, none left over.
    bool done() const { return ok && at == end; }
    // The code as the server writes it: eight symbols of the alphabet, upper case.
    bool get_code(RoomCode* code) {
        uint8_t text[kCodeLength];
        if (!take(text, sizeof text)) return false;
        uint64_t value = 0;
        for (uint8_t c : text) {
            const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
            if (!p) return ok = false;
            value = value << 5 | static_cast<uint64_t>(p - kAlphabet);
        }
        code->value = value;
        return true;
    }
};

bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// What a player may send: a press, a release or a key.
bool player_input(uint32_t message) {
    return message == plat::WM_LBUTTONDOWN || message == plat::WM_LBUTTONUP || message == plat::WM_KEYDOWN;
}

// What a frame may hold: the presses and releases a room took, and sides changing hands.
bool frame_input(uint32_t message) {
    return message == plat::WM_LBUTTONDOWN || message == plat::WM_LBUTTONUP || message == plat::WM_SIDE;
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

std::vector<uint8_t> encode(const Create& m) {
    Out out(kCreate, 4);
    out.put(m.version);
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Join& m) {
    Out out(kJoin, 28);
    out.put(m.version);
    out.put_code(m.code);
    out.put_bytes(m.token.data(), m.token.size());
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Input& m) {
    Out out(kInput, 12);
    out.put(m.message), out.put(m.wParam), out.put(m.lParam);
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Hash& m) {
    Out out(kHash, 12);
    out.put(m.tick), out.put(m.hash);
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Welcome& m) {
    Out out(kWelcome, 26);
    out.put_code(m.code);
    out.put(m.side), out.put(static_cast<uint8_t>(m.creator ? 1 : 0));
    out.put_bytes(m.token.data(), m.token.size());
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Snapshot& m) {
    Out out(kSnapshot, 4 + m.bytes.size());
    out.put(m.tick);
    out.put_bytes(m.bytes.data(), m.bytes.size());
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Frame& m) {
    Out out(kFrame, 6 + 12 * m.inputs.size());
    out.put(m.tick), out.put(static_cast<uint16_t>(m.inputs.size()));
    for (const Input& input : m.inputs) out.put(input.message), out.put(input.wParam), out.put(input.lParam);
    return std::move(out.bytes);
}

std::vector<uint8_t> encode(const Refuse& m) {
    std::string text = m.reason.substr(0, kMaxReason);
    for (char& c : text)
        if (!printable(static_cast<uint8_t>(c))) c = '?';
    Out out(kRefuse, 1 + text.size());
    out.put(static_cast<uint8_t>(text.size()));
    out.put_bytes(text.data(), text.size());
    return std::move(out.bytes);
}

std::optional<ToServer> decode_to_server(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxMessage) return std::nullopt;
    In in{data + 1, data + size};
    switch (data[0]) {
        case kCreate: {
            Create m;
            m.version = in.get<uint32_t>();
            if (in.done()) return m;
            break;
        }
        case kJoin: {
            Join m;
            m.version = in.get<uint32_t>();
            in.get_code(&m.code);
            in.take(m.token.data(), m.token.size());
            if (in.done()) return m;
            break;
        }
        case kInput: {
            Input m;
            m.message = in.get<uint32_t>(), m.wParam = in.get<uint32_t>(), m.lParam = in.get<int32_t>();
            if (in.done() && player_input(m.message)) return m;
            break;
        }
        case kHash: {
            Hash m;
            m.tick = in.get<uint32_t>(), m.hash = in.get<uint64_t>();
            if (in.done()) return m;
            break;
        }
        default: break;
    }
    return std::nullopt;
}

std::optional<ToClient> decode_to_client(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxMessage) return std::nullopt;
    In in{data + 1, data + size};
    switch (data[0]) {
        case kWelcome: {
            Welcome m;
            in.get_code(&m.code);
            m.side = in.get<uint8_t>();
            auto creator = in.get<uint8_t>();
            m.creator = creator == 1;
            in.take(m.token.data(), m.token.size());
            if (in.done() && m.side < kMaxPlayers && creator <= 1 && !is_zero(m.token)) return m;
            break;
        }
        case kSnapshot: {
            Snapshot m;
            m.tick = in.get<uint32_t>();
            if (in.left() == 0) break;
            m.bytes.assign(in.at, in.end);
            return m;
        }
        case kFrame: {
            Frame m;
            m.tick = in.get<uint32_t>();
            auto count = in.get<uint16_t>();
            if (count > kMaxFrameInputs || in.left() != 12u * count) break;
            m.inputs.resize(count);
            for (Input& input : m.inputs) {
                input.message = in.get<uint32_t>(), input.wParam = in.get<uint32_t>(), input.lParam = in.get<int32_t>();
                if (!frame_input(input.message)) return std::nullopt;
            }
            if (in.done()) return m;
            break;
        }
        case kRefuse: {
            Refuse m;
            auto length = in.get<uint8_t>();
            if (!in.ok || length > kMaxReason || in.left() != length) break;
            for (const uint8_t* p = in.at; p < in.end; p++)
                if (!printable(*p)) return std::nullopt;
            m.reason.assign(in.at, in.end);
            return m;
        }
        default: break;
    }
    return std::nullopt;
}

}  // namespace online
