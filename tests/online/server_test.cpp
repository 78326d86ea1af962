// The Boost.Beast front on real sockets: players playing through it, /metrics, the faults only a
// socket shows (text, oversized, ping floods), a first message in the upgrade's own segment, and what
// one address's connections (127.0.0.2) can no longer do to another's. The rules are lobby_test's.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <filesystem>
#include <fstream>

#include "harness.h"
#include "model/globals.h"
#include "online/transport.h"

namespace {

using namespace online_test;
using namespace std::chrono_literals;
namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

// A TCP connection from the address to the server; a receive buffer of that size, when not 0.
void connect_from(tcp::socket& socket, const std::string& from, const online::Address& server, int receive = 0) {
    socket.open(tcp::v4());
    if (receive) socket.set_option(net::socket_base::receive_buffer_size(receive));
    socket.bind(tcp::endpoint(net::ip::make_address(from), 0));
    socket.connect(tcp::endpoint(net::ip::make_address(server.host), static_cast<uint16_t>(std::stoi(server.port))));
}

// A WebSocket client that sends whatever it is told to, with every wait bounded.
class RawClient {
public:
    RawClient(const online::Address& server, const std::string& from = "127.0.0.2", int receive = 0,
              const std::string& path = "/") {
        connect_from(beast::get_lowest_layer(ws_).socket(), from, server, receive);
        ws_.handshake(server.host, path);
        ws_.binary(true);
    }
    void send(const std::vector<uint8_t>& bytes, bool binary = true) {
        ws_.binary(binary);
        beast::error_code ec;
        ws_.write(net::buffer(bytes), ec);
    }
    void ping() {
        beast::error_code ec;
        ws_.ping({}, ec);
    }
    // Reads on until the server closes the connection: true when it does within the wait.
    bool closed_within(std::chrono::milliseconds wait) {
        beast::flat_buffer buffer;
        bool done = false;
        for (auto end = std::chrono::steady_clock::now() + wait; std::chrono::steady_clock::now() < end;) {
            beast::error_code result;
            ws_.async_read(buffer, [&](beast::error_code ec, size_t) { result = ec, done = true; });
            ioc_.restart();
            ioc_.run_for(end - std::chrono::steady_clock::now());
            if (!done) return false;
            if (result) return true;
            done = false;
        }
        return false;
    }
    // Reads messages until the stream ends or fails, most come or the wait is over: how it ended (no
    // error for the last two), and what came.
    beast::error_code read_all(size_t most, std::chrono::milliseconds wait, std::vector<online::ToClient>* got) {
        beast::flat_buffer buffer;
        for (auto end = std::chrono::steady_clock::now() + wait; got->size() < most;) {
            beast::error_code result;
            bool done = false;
            ws_.async_read(buffer, [&](beast::error_code ec, size_t) { result = ec, done = true; });
            ioc_.restart();
            ioc_.run_for(end - std::chrono::steady_clock::now());
            if (!done || result) return result;
            auto data = buffer.cdata();
            auto m = online::decode_to_client(static_cast<const uint8_t*>(data.data()), data.size());
            got->push_back(m ? *m : online::ToClient{online::ServerRefuse{"undecodable"}});
            buffer.clear();
        }
        return {};
    }

private:
    net::io_context ioc_;
    beast::websocket::stream<beast::tcp_stream> ws_{ioc_};
};

// An HTTP GET; the status and the body.
std::pair<int, std::string> get(const online::Address& server, const std::string& target) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    connect_from(stream.socket(), "127.0.0.3", server);
    beast::http::request<beast::http::empty_body> request(beast::http::verb::get, target, 11);
    request.set(beast::http::field::host, server.host);
    beast::http::write(stream, request);
    beast::flat_buffer buffer;
    beast::http::response<beast::http::string_body> response;
    beast::http::read(stream, buffer, response);
    return {response.result_int(), response.body()};
}

// Whatever the bytes, the server's whole answer, read until it closes.
std::string exchange(const online::Address& server, const std::string& bytes) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    connect_from(stream.socket(), "127.0.0.3", server);
    stream.expires_after(5s);
    net::write(stream.socket(), net::buffer(bytes));
    std::string got;
    std::array<char, 4096> chunk;
    for (beast::error_code ec; !ec;) got.append(chunk.data(), stream.socket().read_some(net::buffer(chunk), ec));
    return got;
}

std::string asking(const std::string& target, const std::string& headers = "", const char* method = "GET") {
    return std::string(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

online::ServerOptions fast() {
    online::ServerOptions options;
    options.tick_ms = 2;
    return options;
}

TEST(ServerTest, PlayersPlayThroughTheFrontAndItsFaultsCloseTheirOwnConnection) {
    LocalServer server(fast());
    Doorbell bell;
    Player creator(&bell), second(&bell);
    creator.create(server.address());
    ASSERT_TRUE(pump_until(
        {&creator}, bell, [&] { return creator.session().playing(); }, 20s));
    second.join(server.address(), creator.session().code());
    ASSERT_TRUE(pump_until(
        {&creator, &second}, bell, [&] { return second.session().playing(); }, 20s));

    std::vector<std::function<void(RawClient&)>> faults = {
        [](RawClient& c) { c.send(online::encode(online::ClientHash{}), false); },
        [](RawClient& c) { c.send(std::vector<uint8_t>(online::kMaxMessage + 1, 0x03)); },
        [](RawClient& c) {
            for (int i = 0; i < 1000; i++) c.ping();
        },
    };
    for (auto& fault : faults) {
        RawClient client(server.address());
        fault(client);
        EXPECT_TRUE(client.closed_within(5s));
    }
    EXPECT_TRUE(server.logged("a text message"));
    EXPECT_TRUE(server.logged("a message longer than"));
    EXPECT_TRUE(server.logged("too many messages"));
    creator.click(380, 340);
    EXPECT_TRUE(pump_until(
        {&creator, &second}, bell, [&] { return second.in([] { return timer_mode == MODE_PLACING; }); }, 20s));
    auto [status, body] = get(server.address(), "/metrics");
    EXPECT_EQ(status, 200);
    for (const char* line : {"vantor_rooms 1\n", "vantor_players 2\n", "vantor_drops_total 3\n",
                             "# TYPE vantor_tick_lateness_ms histogram\n", "# TYPE vantor_queued_bytes gauge\n"})
        EXPECT_NE(body.find(line), std::string::npos) << line << body;
    EXPECT_EQ(get(server.address(), "/").first, 404);
    EXPECT_FALSE(second.session().lost()) << second.session().reason();
}

// A watcher that reads nothing while its snapshot and frames pile up on a small receive buffer gets
// every message whole and in order once it reads; one that pings while they are held up hears the end
// of its stream, never a broken frame.
TEST(ServerTest, HeldUpWritesComeWholeOrEndTheStream) {
    online::ServerOptions options = fast();
    options.send_buffer = 4096;
    LocalServer server(options);
    Doorbell bell;
    Player creator(&bell);
    creator.create(server.address());
    ASSERT_TRUE(pump_until(
        {&creator}, bell, [&] { return creator.session().playing(); }, 20s));
    for (bool ping : {false, true}) {
        std::string code = online::show_code(creator.session().code());
        code.erase(code.find('-'), 1);
        RawClient watcher(server.address(), "127.0.0.2", 2048, "/room/" + code);
        watcher.send(online::encode(online::ClientWatch{online::kProtocolVersion, creator.session().code()}));
        // Some 1,500 frames behind the snapshot, and until the server holds some of what it writes.
        auto behind = std::chrono::steady_clock::now() + 3s;
        ASSERT_TRUE(pump_until(
            {&creator}, bell,
            [&] { return std::chrono::steady_clock::now() > behind && server.metrics().queued_bytes > 0; }, 20s));
        if (ping) watcher.ping();
        std::vector<online::ToClient> got;
        beast::error_code end = watcher.read_all(2000, 20s, &got);
        uint32_t tick = 0;
        size_t frames = 0;
        for (const online::ToClient& m : got) {
            if (const auto* s = std::get_if<online::ServerSnapshot>(&m)) tick = s->tick;
            if (const auto* f = std::get_if<online::ServerFrame>(&m)) {
                ASSERT_EQ(f->tick, tick + 1) << "after " << frames << " frames";
                tick = f->tick, frames++;
            }
            if (const auto* r = std::get_if<online::ServerRefuse>(&m)) FAIL() << r->reason;
        }
        if (ping) EXPECT_EQ(end, net::error::eof) << end.message() << " after " << frames << " frames";
        else EXPECT_EQ(got.size(), 2000u) << end.message();
        EXPECT_GT(frames, 100u);
    }
    EXPECT_FALSE(creator.session().lost());
}

// The client's first message in the same write as its upgrade request is answered, not lost.
TEST(ServerTest, AMessageInTheUpgradesSegmentIsRead) {
    LocalServer server(fast());
    net::io_context ioc;
    tcp::socket socket(ioc);
    connect_from(socket, "127.0.0.3", server.address());
    std::vector<uint8_t> create = online::encode(online::ClientCreate{});
    std::string bytes =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    bytes += static_cast<char>(0x82);  // a whole binary message, masked with zeros
    bytes += static_cast<char>(0x80 | create.size());
    bytes += std::string(4, '\0') + std::string(create.begin(), create.end());
    net::write(socket, net::buffer(bytes));
    std::string got;
    std::array<char, 512> chunk;
    auto end = std::chrono::steady_clock::now() + 5s;
    size_t head = std::string::npos;
    while (std::chrono::steady_clock::now() < end) {
        beast::error_code ec;
        size_t n = socket.read_some(net::buffer(chunk), ec);
        if (ec) break;
        got.append(chunk.data(), n);
        head = got.find("\r\n\r\n");
        if (head != std::string::npos && got.size() > head + 6) break;
    }
    ASSERT_NE(head, std::string::npos) << got;
    EXPECT_EQ(got.rfind("HTTP/1.1 101", 0), 0u) << got;
    ASSERT_GT(got.size(), head + 6);
    EXPECT_EQ(static_cast<uint8_t>(got[head + 6]), static_cast<uint8_t>(online::MessageType::kServerWelcome));  // after the frame's two bytes
}

// One address's connections beyond its share are closed at once; those that dribble their request go
// at the upgrade deadline; an honest player from another address creates a room all along.
TEST(ServerTest, OneAddressCannotHoldTheServersConnections) {
    online::ServerOptions options = fast();
    options.connections_per_address = 4;
    options.upgrade_seconds = 1;
    LocalServer server(options);
    net::io_context ioc;
    std::vector<std::unique_ptr<tcp::socket>> sockets;
    for (int i = 0; i < 12; i++) {
        sockets.push_back(std::make_unique<tcp::socket>(ioc));
        connect_from(*sockets.back(), "127.0.0.2", server.address());
        net::write(*sockets.back(), net::buffer(std::string("G")));
    }
    // A socket closed by the server reads its end at once; one still open would wait.
    auto closed = [&](tcp::socket& s, std::chrono::milliseconds wait) {
        char c;
        bool done = false, ended = false;
        s.async_read_some(net::buffer(&c, 1), [&](beast::error_code ec, size_t) { done = true, ended = !!ec; });
        ioc.restart();
        ioc.run_for(wait);
        bool finished = done && ended;
        if (!done) s.cancel(), ioc.restart(), ioc.run_for(100ms);
        return finished;
    };
    int turned_away = 0;
    for (auto& s : sockets) turned_away += closed(*s, 200ms);
    EXPECT_EQ(turned_away, 8);

    Doorbell bell;
    Player honest(&bell);
    honest.create(server.address());
    EXPECT_TRUE(pump_until(
        {&honest}, bell, [&] { return honest.session().playing(); }, 10s));
    int dribbled_out = 0;
    for (int i = 0; i < 4; i++) dribbled_out += closed(*sockets[static_cast<size_t>(i)], 3s);
    EXPECT_EQ(dribbled_out, 4);
    EXPECT_TRUE(server.logged("turned away 127.0.0.2: too many connections from its address"));
    EXPECT_EQ(get(server.address(), "/metrics").first, 200);
}

// The site beside the rooms: the page at /, the .gz to those who take it, 304 for a tag the client
// holds, HEAD, and 400 or 404 with nothing read outside for paths and links that step out and for
// requests too long for the parser; /metrics for the loopback alone; the open rooms at /rooms.
TEST(ServerTest, TheSiteIsServedOnTheRoomsPortAndNothingOutsideIt) {
    namespace fs = std::filesystem;
    fs::path base = fs::temp_directory_path() / ("vantor-front-" + std::to_string(::getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "site");
    std::ofstream(base / "secret.txt") << "outside";
    std::ofstream(base / "site" / "index.html") << "<p>page</p>";
    std::ofstream(base / "site" / "vantor.wasm") << std::string(4000, 'w');
    std::ofstream(base / "site" / "vantor.wasm.gz") << "zipped";
    fs::create_symlink(base / "secret.txt", base / "site" / "out.txt");
    online::ServerOptions options = fast();
    options.site = base / "site";
    options.metrics_from = "127.0.0.2";
    LocalServer server(options);
    auto at = [&](const std::string& bytes) { return exchange(server.address(), bytes); };

    std::string page = at(asking("/"));
    EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page;
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos) << page;
    EXPECT_TRUE(page.ends_with("\r\n\r\n<p>page</p>")) << page;
    std::string zipped = at(asking("/vantor.wasm", "Accept-Encoding: gzip, br\r\n"));
    for (const char* line : {"Content-Encoding: gzip\r\n", "Vary: Accept-Encoding\r\n", "Cache-Control: no-cache\r\n",
                             "Content-Type: application/wasm\r\n", "Content-Length: 6\r\n", "X-Vantor-Server: rooms\r\n"})
        EXPECT_NE(zipped.find(line), std::string::npos) << line << zipped;
    EXPECT_TRUE(zipped.ends_with("zipped"));
    std::string head = at(asking("/vantor.wasm", "", "HEAD"));
    EXPECT_NE(head.find("Content-Length: 4000\r\n"), std::string::npos) << head;
    EXPECT_TRUE(head.ends_with("\r\n\r\n")) << "no body";
    size_t tag = head.find("ETag: ");
    ASSERT_NE(tag, std::string::npos);
    std::string etag = head.substr(tag + 6, head.find("\r\n", tag) - tag - 6);
    EXPECT_EQ(at(asking("/vantor.wasm", "If-None-Match: " + etag + "\r\n")).rfind("HTTP/1.1 304", 0), 0u);

    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "http://x/../secret.txt"})
        EXPECT_EQ(at(asking(target)).rfind("HTTP/1.1 400", 0), 0u) << target;
    // An absolute path is a path below the site like any other.
    for (const std::string& target : {std::string("/out.txt"), (base / "secret.txt").string()}) {
        std::string out = at(asking(target));
        EXPECT_EQ(out.rfind("HTTP/1.1 404", 0), 0u) << target;
        EXPECT_EQ(out.find("outside"), std::string::npos);
    }
    EXPECT_EQ(at(asking("/" + std::string(9000, 'a'))).rfind("HTTP/1.1 400", 0), 0u);
    EXPECT_EQ(at(asking("/", "X-Long: " + std::string(9000, 'a') + "\r\n")).rfind("HTTP/1.1 400", 0), 0u);
    EXPECT_EQ(at(asking("/", "", "DELETE")).rfind("HTTP/1.1 405", 0), 0u);
    EXPECT_EQ(get(server.address(), "/metrics").first, 403) << "asked from 127.0.0.3";

    RawClient open(server.address());
    open.send(online::encode(online::ClientCreate{online::kProtocolVersion, true}));
    // As `vantor --rooms` asks for it.
    std::string rooms, why;
    for (int i = 0; i < 50 && rooms.find("\"seated\":1") == std::string::npos; i++) {
        std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(online::http_get(server.address(), "/rooms", &rooms, &why)) << why;
    }
    EXPECT_NE(rooms.find("\"seated\":1,\"free\":3"), std::string::npos) << rooms;
    EXPECT_FALSE(online::http_get(server.address(), "/missing", &rooms, &why));
    EXPECT_EQ(why, "127.0.0.1:" + server.address().port + " answers /missing with 404");
    fs::remove_all(base);
}

}  // namespace
