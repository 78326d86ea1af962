// A player's connection: the network thread and the game thread's pump.
#include "online/session.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "model/equates.h"
#include "platform/window.h"
#include "replay/state.h"

namespace online {

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr auto kConnectTime = std::chrono::seconds(10);
// The server sends a frame every tick: this long without one, and it is gone.
constexpr auto kSilence = std::chrono::seconds(30);

}  // namespace

bool parse_address(const std::string& text, Address* address, std::string* why) {
    auto refuse = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    std::string rest = text;
    if (rest.rfind("wss://", 0) == 0) return refuse("wss:// is not spoken here: connect through ws://");
    if (rest.rfind("ws://", 0) == 0) rest = rest.substr(5);
    Address a;
    size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        a.path = rest.substr(slash);
        rest = rest.substr(0, slash);
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos) return refuse("an IPv6 address without its ]: " + text);
        a.host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') return refuse("not an address: " + text);
        port = rest.empty() ? "" : rest.substr(1);
    } else {
        size_t colon = rest.rfind(':');
        a.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) return refuse("an IPv6 address goes in brackets: " + text);
    }
    if (a.host.empty()) return refuse("no host in " + text);
    if (port.empty()) port = "80";
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) == 0 ||
        std::stoi(port) > 65535)
        return refuse("not a port: " + port);
    a.port = port;
    *address = a;
    return true;
}

// The network side: resolves, connects, says hello, then reads into the inbox and writes the outbox,
// all on its own thread.
struct Session::Net {
    Net(const Address& a, std::vector<uint8_t> h, Wake w) : address(a), hello(std::move(h)), wake(std::move(w)) {}

    ~Net() {
        ioc.stop();
        if (thread.joinable()) thread.join();
    }

    void start() {
        thread = std::thread([this] {
            resolver.async_resolve(address.host, address.port,
                                   [this](beast::error_code ec, tcp::resolver::results_type found) {
                                       if (ec) return fail("cannot find the server " + address.host);
                                       connect(found);
                                   });
            ioc.run();
        });
    }

    void connect(const tcp::resolver::results_type& found) {
        beast::get_lowest_layer(ws).expires_after(kConnectTime);
        beast::get_lowest_layer(ws).async_connect(found, [this](beast::error_code ec, const tcp::endpoint&) {
            if (ec) return fail("cannot connect to " + address.host + ":" + address.port + ": " + ec.message());
            beast::get_lowest_layer(ws).expires_never();
            websocket::stream_base::timeout timeout{};
            timeout.handshake_timeout = kConnectTime;
            timeout.idle_timeout = kSilence;
            timeout.keep_alive_pings = false;
            ws.set_option(timeout);
            ws.read_message_max(kMaxMessage);
            ws.binary(true);
            ws.async_handshake(address.host + ":" + address.port, address.path, [this](beast::error_code e) {
                if (e) return fail("the server does not speak WebSocket: " + e.message());
                send(std::move(hello));
                read();
            });
        });
    }

    void read() {
        ws.async_read(buffer, [this](beast::error_code ec, size_t) {
            if (ec == beast::error::timeout) return fail("the server has gone silent");
            if (ec)
                return fail(ec == websocket::error::closed ? "the server closed the connection"
                                                           : "the connection to the server broke");
            auto data = buffer.cdata();
            std::optional<ToClient> message = decode_to_client(static_cast<const uint8_t*>(data.data()), data.size());
            buffer.consume(buffer.size());
            if (!message || !ws.got_binary()) return fail("the server sent a message this game cannot read");
            {
                std::lock_guard<std::mutex> hold(lock);
                inbox.push_back(std::move(*message));
            }
            if (wake) wake();
            read();
        });
    }

    // From any thread.
    void send(std::vector<uint8_t> bytes) {
        net::post(ioc, [this, bytes = std::move(bytes)]() mutable {
            if (closed_here) return;
            outbox.push_back(std::move(bytes));
            if (outbox.size() == 1) write();
        });
    }

    void write() {
        ws.async_write(net::buffer(outbox.front()), [this](beast::error_code ec, size_t) {
            if (ec) return fail("the connection to the server broke");
            outbox.pop_front();
            if (!outbox.empty()) write();
        });
    }

    // From any thread.
    void close() {
        net::post(ioc, [this] { fail("closed"); });
    }

    void fail(const std::string& why) {
        if (closed_here) return;
        closed_here = true;
        beast::error_code ec;
        beast::get_lowest_layer(ws).socket().close(ec);
        {
            std::lock_guard<std::mutex> hold(lock);
            closed = true;
            reason = why;
        }
        if (wake) wake();
    }

    Address address;
    std::vector<uint8_t> hello;
    Wake wake;
    net::io_context ioc{1};
    tcp::resolver resolver{ioc};
    websocket::stream<beast::tcp_stream> ws{ioc};
    beast::flat_buffer buffer;
    std::deque<std::vector<uint8_t>> outbox;
    bool closed_here = false;  // on the network thread

    std::mutex lock;  // guards what follows: the game thread takes it all in pump
    std::deque<ToClient> inbox;
    bool closed = false;
    std::string reason;

    std::thread thread;
};

Session::Session(const Address& server, std::vector<uint8_t> hello, replay::Deliver deliver, Wake wake)
    : net_(std::make_unique<Net>(server, std::move(hello), std::move(wake))), deliver_(std::move(deliver)) {
    net_->start();
}

Session::~Session() = default;

namespace {

// The server's path with the room's part: "/room/new" or "/room/28T5CY4T" under "/".
Address to_room(Address server, const std::string& room) {
    if (server.path.empty() || server.path.back() != '/') server.path += '/';
    server.path += "room/" + room;
    return server;
}

}  // namespace

std::unique_ptr<Session> Session::create(const Address& server, replay::Deliver deliver, Wake wake) {
    return std::unique_ptr<Session>(
        new Session(to_room(server, "new"), encode(Create{}), std::move(deliver), std::move(wake)));
}

std::unique_ptr<Session> Session::join(const Address& server, RoomCode code, const Token& token,
                                       replay::Deliver deliver, Wake wake) {
    std::string name = show_code(code);
    name.erase(4, 1);
    return std::unique_ptr<Session>(new Session(to_room(server, name), encode(Join{kProtocolVersion, code, token}),
                                                std::move(deliver), std::move(wake)));
}

void Session::pump() {
    if (lost_) return;
    std::deque<ToClient> arrived;
    bool closed = false;
    std::string why;
    {
        std::lock_guard<std::mutex> hold(net_->lock);
        arrived.swap(net_->inbox);
        closed = net_->closed;
        why = net_->reason;
    }
    for (const ToClient& message : arrived) {
        if (lost_) return;
        apply(message);
    }
    // A refusal's reason says more than the closing that follows it.
    if (closed && !lost_) lose(reason_.empty() ? why : reason_);
}

void Session::apply(const ToClient& message) {
    if (const auto* welcome = std::get_if<Welcome>(&message)) {
        welcomed_ = true;
        code_ = welcome->code;
        side_ = welcome->side;
        creator_ = welcome->creator;
        token_ = welcome->token;
    } else if (const auto* snapshot = std::get_if<Snapshot>(&message)) {
        std::string why;
        if (!replay::restore_snapshot(snapshot->bytes.data(), snapshot->bytes.size(), &why))
            return lose("the room's game cannot be played here: " + why);
        playing_ = true;
        tick_ = snapshot->tick;
        snapshots_++;
    } else if (const auto* frame = std::get_if<Frame>(&message)) {
        if (!playing_) return;
        if (frame->tick != tick_ + 1) return lose("the server's frames came out of order");
        for (const Input& input : frame->inputs) deliver_(input.message, input.wParam, input.lParam);
        deliver_(plat::WM_TIMER, TIMER_ID, 0);
        tick_ = frame->tick;
        if (tick_ % kHashTicks == 0) net_->send(encode(Hash{tick_, replay::state_hash()}));
    } else if (const auto* refuse = std::get_if<Refuse>(&message)) {
        reason_ = refuse->reason;
    }
}

void Session::send_input(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (lost_ || !playing_) return;
    net_->send(encode(Input{message, wParam, lParam}));
}

void Session::lose(const std::string& why) {
    lost_ = true;
    reason_ = why;
    net_->close();
}

}  // namespace online
