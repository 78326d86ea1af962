// The messages' bytes and the room codes: every message round trips, and the decoders take nothing
// cut short, too long, of an unknown type or out of range.
#include <gtest/gtest.h>

#include <set>

#include "online/protocol.h"
#include "online/session.h"

namespace {

using namespace online;

bool server_takes(const std::vector<uint8_t>& b) { return decode_to_server(b.data(), b.size()).has_value(); }
bool client_takes(const std::vector<uint8_t>& b) { return decode_to_client(b.data(), b.size()).has_value(); }

template <typename T, typename Decoded>
T as(const Decoded& m) {
    EXPECT_TRUE(m && std::holds_alternative<T>(*m));
    return m && std::holds_alternative<T>(*m) ? std::get<T>(*m) : T{};
}
template <typename T>
T up(const std::vector<uint8_t>& b) {
    return as<T>(decode_to_server(b.data(), b.size()));
}
template <typename T>
T down(const std::vector<uint8_t>& b) {
    return as<T>(decode_to_client(b.data(), b.size()));
}

const GameInput press{0, 0, InputKind::kPress, 599, 459, 0};
const GameInput side_handed{0, 3, InputKind::kSideHanded, 0, 0, 1};

std::vector<uint8_t> with(std::vector<uint8_t> b, size_t at, uint8_t v) { return b[at] = v, b; }

TEST(ProtocolTest, MessagesRoundTripAndOnlyWhole) {
    Token token = new_token();
    std::vector<uint8_t> join = encode(ClientJoin{7, RoomCode{0x123456789AULL}, token});
    ASSERT_EQ(join.size(), 29u);
    EXPECT_EQ(join.size(), ClientJoin::kSize);
    EXPECT_EQ(join[0], 0x02);
    EXPECT_EQ(join[1], 7);
    EXPECT_EQ(std::string(join.begin() + 5, join.begin() + 13), "28T5CY4T");
    EXPECT_EQ(up<ClientJoin>(join).code.value, 0x123456789AULL);
    EXPECT_EQ(up<ClientJoin>(join).token, token);
    std::vector<uint8_t> input = encode(ClientInput{press});
    ASSERT_EQ(input.size(), 11u);
    EXPECT_EQ(input[2], 1) << "the game's own number for a press";
    EXPECT_EQ(up<ClientInput>(input).input, press);
    EXPECT_EQ(up<ClientHash>(encode(ClientHash{1230, 0xFEDCBA9876543210ULL})).hash, 0xFEDCBA9876543210ULL);
    ServerWelcome w = down<ServerWelcome>(encode(ServerWelcome{RoomCode{42}, 3, true, Token{1}}));
    EXPECT_EQ(w.code.value, 42u);
    EXPECT_EQ(w.side, 3);
    EXPECT_TRUE(w.creator);
    EXPECT_EQ(down<ServerSnapshot>(encode(ServerSnapshot{99, {1, 2, 3}})).bytes, (std::vector<uint8_t>{1, 2, 3}));
    std::vector<GameInput> inputs{
        {0, 2, InputKind::kPress, 2, 3, 0}, side_handed, {0, 2, InputKind::kRelease, 7, 8, 0}};
    EXPECT_EQ(down<ServerFrame>(encode(ServerFrame{5, inputs})).inputs, inputs);
    EXPECT_EQ(down<ServerRefuse>(encode(ServerRefuse{"tab\there"})).reason, "tab?here");
    EXPECT_EQ(down<ServerMoved>(encode(ServerMoved{"ws://127.0.0.1:8801/room/K3M7Q2PX"})).address,
              "ws://127.0.0.1:8801/room/K3M7Q2PX");
    EXPECT_TRUE(encode(ServerMoved{"ws://a\n"}).empty());
    // A create's open flag is its last byte, which a client of before open rooms does not send.
    std::vector<uint8_t> create = encode(ClientCreate{kProtocolVersion, true});
    EXPECT_TRUE(up<ClientCreate>(create).open);
    EXPECT_FALSE(up<ClientCreate>({create.begin(), create.end() - 1}).open);
    EXPECT_FALSE(server_takes(with(create, 5, 2)));
    EXPECT_FALSE(server_takes({create.begin(), create.end() - 2}));
    create.push_back(0);
    EXPECT_FALSE(server_takes(create));

    using Takes = bool (*)(const std::vector<uint8_t>&);
    std::vector<std::pair<std::vector<uint8_t>, Takes>> all = {
        {join, server_takes},
        {encode(ClientHash{}), server_takes},           {encode(ServerWelcome{{}, 0, false, Token{1}}), client_takes},
        {encode(ServerFrame{5, inputs}), client_takes}, {encode(ServerRefuse{"x"}), client_takes},
        {encode(ClientWatch{}), server_takes},          {encode(ServerRoster{5, 16}), client_takes},
        {encode(ClientDigest{30, {1, 2}}), server_takes}, {encode(ServerAskDigest{30}), client_takes},
        {encode(ServerMoved{"ws://h:1"}), client_takes}};
    all.push_back({encode(ServerWelcome{{}, 0, false, Token{}, true, true}), client_takes});
    for (auto [bytes, takes] : all) {
        EXPECT_TRUE(takes(bytes));
        EXPECT_FALSE(takes({bytes.begin(), bytes.end() - 1}));
        bytes.push_back(0);
        EXPECT_FALSE(takes(bytes));
    }
}

TEST(ProtocolTest, UnknownTypesAndFieldsOutOfRangeAreRefused) {
    for (int type = 0; type < 256; type++) {
        std::vector<uint8_t> zeros(29, 0);
        zeros[0] = static_cast<uint8_t>(type);
        // 29 bytes make a join, but its code cannot be zeros; only a snapshot is any bytes at all.
        EXPECT_FALSE(server_takes(zeros)) << type;
        EXPECT_EQ(client_takes(zeros), type == 0x82) << type;
    }
    EXPECT_FALSE(client_takes(encode(ClientCreate{}))) << "directions do not mix";
    std::vector<uint8_t> welcome = encode(ServerWelcome{RoomCode{42}, 3, true, Token{1}});
    EXPECT_FALSE(client_takes(with(welcome, 9, 4))) << "side 4";
    EXPECT_FALSE(client_takes(with(welcome, 10, 2))) << "creator 2";
    EXPECT_FALSE(client_takes(with(welcome, 11, 0))) << "a zero token";
    EXPECT_FALSE(client_takes(with(welcome, 27, 1))) << "a watcher with a seat's token";
    EXPECT_FALSE(client_takes(encode(ServerWelcome{{}, 0, false, Token{}, false, false}))) << "a zero token";
    EXPECT_FALSE(client_takes(encode(ServerRoster{16, 0}))) << "a fifth side";
    EXPECT_FALSE(client_takes(encode(ServerRoster{0, kMaxWatchers + 1})));
    EXPECT_FALSE(client_takes(with(welcome, 1, 'a'))) << "a code in lower case";
    EXPECT_FALSE(client_takes(with(welcome, 1, 'U'))) << "no U in the alphabet";
    EXPECT_FALSE(client_takes(encode(ServerSnapshot{1, {}})));
    EXPECT_FALSE(client_takes(with(encode(ServerFrame{1, {press}}), 5, 2))) << "count";
    EXPECT_FALSE(client_takes(with(encode(ServerFrame{1, {press}}), 7, 4))) << "side 4";
    EXPECT_FALSE(client_takes(encode(ServerFrame{1, {{0, 1, InputKind::kSideHanded, 0, 0, 2}}}))) << "code 2";
    EXPECT_FALSE(client_takes(with(encode(ServerRefuse{"ab"}), 2, '\n')));
    EXPECT_FALSE(server_takes(with(encode(ClientDigest{30, {1}}), 5, 2))) << "count";
    EXPECT_EQ(up<ClientDigest>(encode(ClientDigest{30, std::vector<uint64_t>(600, 1)})).pieces.size(), kMaxDigestPieces);
    for (int kind : {0, 4, 6, 255}) {
        GameInput strange{0, 0, static_cast<InputKind>(kind), 0, 0, 0};
        EXPECT_FALSE(client_takes(encode(ServerFrame{1, {strange}}))) << kind;
        EXPECT_FALSE(server_takes(encode(ClientInput{strange}))) << kind;
    }
    EXPECT_TRUE(client_takes(encode(ServerFrame{1, {{0, 0, InputKind::kKey, 0, 0, 'F'}}}))) << "fast play";
    EXPECT_FALSE(client_takes(encode(ServerFrame{1, {{0, 0, InputKind::kKey, 0, 0, 'M'}}}))) << "no other key";
    EXPECT_FALSE(server_takes(encode(ClientInput{side_handed}))) << "only the server hands sides over";

    ServerFrame many{1, std::vector<GameInput>(kMaxFrameInputs + 1, press)};
    EXPECT_FALSE(client_takes(encode(many)));
    many.inputs.pop_back();
    EXPECT_TRUE(client_takes(encode(many)));
    std::vector<uint8_t> huge = encode(ServerSnapshot{1, std::vector<uint8_t>(kMaxMessage, 7)});
    EXPECT_FALSE(client_takes(huge));
    EXPECT_EQ(encode(ServerRefuse{std::string(500, 'x')}).size(), 2 + kMaxReason);
}

TEST(ProtocolTest, RoomCodesReadAsPlayersTypeThemAndAreRandom) {
    for (const char* same : {"28T5-CY4T", "28T5CY4T", "28t5-cy4t", "28t5cy4t"}) {
        RoomCode c;
        EXPECT_TRUE(parse_code(same, &c)) << same;
        EXPECT_EQ(c.value, 0x123456789AULL) << same;
    }
    RoomCode a, b;
    ASSERT_TRUE(parse_code("0O1I-L1iL", &a) && parse_code("0011-1111", &b));
    EXPECT_EQ(a, b);
    for (const char* bad : {"", "28T5-CY4", "28T5-CY4TX", "28T5C-Y4T", "28T5--CY4T", "28T5-CY4U", "28T5 CY4T"}) {
        RoomCode c;
        EXPECT_FALSE(parse_code(bad, &c)) << bad;
    }
    std::set<uint64_t> codes;
    std::set<Token> tokens;
    uint64_t bits = 0;
    for (int i = 0; i < 1000; i++) {
        RoomCode code = new_code(), back;
        ASSERT_TRUE(parse_code(show_code(code), &back));
        EXPECT_EQ(back, code);
        codes.insert(code.value);
        bits |= code.value;
        tokens.insert(new_token());
    }
    // Forty random bits: a thousand draws differ but for odds of one in two million, and use them all.
    EXPECT_EQ(codes.size(), 1000u);
    EXPECT_EQ(tokens.size(), 1000u);
    EXPECT_EQ(bits, kCodeLimit - 1);
    EXPECT_EQ(tokens.count(Token{}), 0u);
}

TEST(ProtocolTest, ServerAddressesAreReadOrRefused) {
    Address a;
    ASSERT_TRUE(parse_address("ws://play.example.org:8765/vantor/", &a, nullptr));
    EXPECT_EQ(a.host + " " + a.port + " " + a.path, "play.example.org 8765 /vantor/");
    ASSERT_TRUE(parse_address("[::1]:9", &a, nullptr));
    EXPECT_EQ(a.host + " " + a.port + " " + a.path, "::1 9 /");
    ASSERT_TRUE(parse_address("localhost", &a, nullptr));
    EXPECT_EQ(a.port, "80");
    // A kept seat names a wss server as it was given, so that joining it again speaks TLS again.
    ASSERT_TRUE(parse_address("wss://[::1]", &a, nullptr));
    EXPECT_EQ(show_address(a) + " " + a.path, "wss://[::1]:443 /");
    for (const char* bad : {"wss://", "::1:80", "[::1", "host:0", "host:65536", "host:8x", ":80", ""}) {
        std::string why;
        EXPECT_FALSE(parse_address(bad, &a, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

}  // namespace
