// The server: connections, rooms and their clocks on one io_context.
#include "online/server.h"

#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <optional>
#include <unordered_map>
#include <variant>

namespace online {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

// A request must arrive this soon after the connection, and a WebSocket handshake or close finish.
constexpr auto kHandshakeTime = std::chrono::seconds(10);
// A client that does not read: what may wait to be sent to it before it is dropped.
constexpr size_t kMaxQueued = 8u * 1024 * 1024;
// Inputs a second a connection may send, in bursts of as many; and messages of any kind.
constexpr double kInputRate = 50, kMessageRate = 250;
// Hashes that differ in a row before a client is told its game is not the room's.
constexpr int kMaxDesyncs = 3;
constexpr auto kSweepPeriod = std::chrono::milliseconds(250);
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

Bytes share(std::vector<uint8_t> bytes) { return std::make_shared<const std::vector<uint8_t>>(std::move(bytes)); }

std::string hex(uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

// Takes one per message, refilling at the rate up to a burst of one second's worth.
class Bucket {
public:
    explicit Bucket(double rate) : rate_(rate), tokens_(rate), last_(Clock::now()) {}
    bool take() {
        Clock::time_point now = Clock::now();
        tokens_ = std::min(rate_, tokens_ + rate_ * std::chrono::duration<double>(now - last_).count());
        last_ = now;
        if (tokens_ < 1) return false;
        tokens_ -= 1;
        return true;
    }

private:
    double rate_, tokens_;
    Clock::time_point last_;
};

class Peer;

// A room with what the server keeps beside its game: the connection at each side and the clock.
struct Table {
    Table(RoomCode c, const GameHooks& hooks, net::io_context& ioc) : code(c), room(hooks), timer(ioc) {}
    RoomCode code;
    Room room;
    std::array<std::shared_ptr<Peer>, kMaxPlayers> peers;
    net::steady_timer timer;
    Clock::time_point next;
    bool ticking = false;
    Clock::time_point empty_since = Clock::now();
};

}  // namespace

struct ServerCore {
    ServerCore(ServerOptions o, GameHooks h) : options(std::move(o)), hooks(std::move(h)) {}
    void log(const std::string& line) {
        if (options.log) options.log(line);
        else std::fprintf(stderr, "vantor-server: %s\n", line.c_str());
    }
    void accept();
    void serve_http(tcp::socket socket);
    void welcome(Peer& peer);
    void handle(const std::shared_ptr<Peer>& peer, const ToServer& message);
    void create(const std::shared_ptr<Peer>& peer, const ClientCreate& m);
    void join(const std::shared_ptr<Peer>& peer, const ClientJoin& m);
    void hash(Peer& peer, const ClientHash& m);
    void seat(const std::shared_ptr<Peer>& peer, Table& table, int side, bool back);
    void leave(Peer& peer, const std::string& why);
    void start_clock(Table& table);
    void arm(Table& table);
    void tick(Table& table);
    void sweep();
    void count_players();
    Metrics metrics() const {
        Metrics m;
        m.rooms = rooms, m.players = players, m.connections = connections, m.frames_total = frames;
        m.checks_total = checks, m.desyncs_total = desyncs, m.refusals_total = refusals, m.drops_total = drops;
        m.inputs_total = inputs, m.ignored_total = ignored;
        return m;
    }

    ServerOptions options;
    GameHooks hooks;
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer sweeper{ioc};
    net::steady_timer pause{ioc};
    std::unordered_map<uint64_t, std::unique_ptr<Table>> tables;
    std::unordered_map<uint64_t, std::weak_ptr<Peer>> peers;
    uint64_t next_id = 1;
    size_t requests = 0;  // connections still before their upgrade
    bool stopping = false;
    std::atomic<uint16_t> port{0};

    std::atomic<uint64_t> rooms{0}, players{0}, connections{0}, frames{0}, checks{0}, desyncs{0}, refusals{0}, drops{0},
        inputs{0}, ignored{0};
};

namespace {

// One WebSocket connection: the messages it sends in, in order, and a queue of what goes out.
class Peer : public std::enable_shared_from_this<Peer> {
public:
    Peer(ServerCore& server, tcp::socket socket, uint64_t number)
        : id(number), server_(server), ws_(std::move(socket)) {
        beast::error_code ec;
        tcp::endpoint end = ws_.next_layer().socket().remote_endpoint(ec);
        where = ec ? "?" : end.address().to_string() + ":" + std::to_string(end.port());
    }

    void start(http::request<http::empty_body> request) {
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = kHandshakeTime;
        timeout.idle_timeout = std::chrono::seconds(server_.options.idle_seconds);
        timeout.keep_alive_pings = false;
        ws_.set_option(timeout);
        ws_.read_message_max(kMaxMessage);
        ws_.binary(true);
        ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
            if (ec) return self->gone("the handshake failed");
            self->server_.welcome(*self);
        });
    }

    void send(Bytes bytes) {
        if (closing_ || closed_) return;
        queued_ += bytes->size();
        if (queued_ > kMaxQueued) return drop("it does not read what it is sent");
        queue_.push_back(std::move(bytes));
        if (!writing_) write();
    }

    // Tells the client why, then closes.
    void refuse(const std::string& reason) {
        if (closing_ || closed_) return;
        server_.refusals++;
        server_.log("refused " + where + (room.empty() ? "" : " in room " + room) + ": " + reason);
        send(share(encode(ServerRefuse{reason})));
        closing_ = true;
    }

    // A fault of the client's: closed at once, and the seat it took, if any, is free again.
    void drop(const std::string& why) {
        if (closed_) return;
        server_.drops++;
        server_.log("dropped " + where + (room.empty() ? "" : " in room " + room) + ": " + why);
        faulty = true;
        end(why);
    }

    // Closed at once, for no fault of its own.
    void end(const std::string& why) {
        close_now();
        gone(why);
    }

    void close_now() {
        beast::error_code ec;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ec);
        beast::get_lowest_layer(ws_).socket().close(ec);
    }

    void read() {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
    }

    const uint64_t id;
    std::string where;
    std::string room;  // the room's code once in one
    Table* table = nullptr;
    int side = -1;
    bool wants_snapshot = false;  // at the next tick, in place of its frame
    uint32_t synced_tick = 0;     // the tick of the last snapshot it was sent
    int desyncs = 0;              // hashes that differed in a row
    Bucket input_bucket{kInputRate};
    Bucket message_bucket{kMessageRate};
    bool faulty = false;

private:
    void on_read(beast::error_code ec) {
        if (ec == websocket::error::message_too_big)
            return drop("a message longer than " + std::to_string(kMaxMessage));
        if (ec == beast::error::timeout)
            return drop("nothing sent for " + std::to_string(server_.options.idle_seconds) + " s");
        if (ec) return gone(ec == websocket::error::closed ? "it closed the connection" : "the connection broke");
        if (closing_ || closed_) return;
        if (!ws_.got_binary()) return drop("a text message");
        if (!message_bucket.take()) return drop("too many messages");
        auto data = buffer_.cdata();
        std::optional<ToServer> message = decode_to_server(static_cast<const uint8_t*>(data.data()), data.size());
        buffer_.consume(buffer_.size());
        if (!message) return drop("a malformed message");
        server_.handle(shared_from_this(), *message);
        if (!closed_) read();
    }

    void write() {
        writing_ = true;
        ws_.async_write(net::buffer(*queue_.front()),
                        [self = shared_from_this()](beast::error_code ec, size_t) { self->on_write(ec); });
    }

    void on_write(beast::error_code ec) {
        writing_ = false;
        if (ec) return gone("the connection broke");
        queued_ -= queue_.front()->size();
        queue_.pop_front();
        if (!queue_.empty()) return write();
        if (closing_) {
            ws_.async_close(websocket::close_code::normal,
                            [self = shared_from_this()](beast::error_code) { self->gone("refused"); });
        }
    }

    // The connection is over, for whatever reason: once.
    void gone(const std::string& why) {
        if (closed_) return;
        closed_ = true;
        close_now();
        server_.leave(*this, why);
    }

    ServerCore& server_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
    std::deque<Bytes> queue_;
    size_t queued_ = 0;
    bool writing_ = false;
    bool closing_ = false;
    bool closed_ = false;
};

// One HTTP request: a WebSocket upgrade goes on as a Peer; GET /metrics is answered; the rest not.
class Request : public std::enable_shared_from_this<Request> {
public:
    Request(ServerCore& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {}

    void read() {
        parser_.header_limit(8 * 1024);
        stream_.expires_after(kHandshakeTime);
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
    }

private:
    void on_read(beast::error_code ec) {
        server_.requests--;
        if (ec) return;
        http::request<http::empty_body> request = parser_.release();
        if (websocket::is_upgrade(request)) {
            stream_.expires_never();
            auto peer = std::make_shared<Peer>(server_, stream_.release_socket(), server_.next_id++);
            server_.peers[peer->id] = peer;
            server_.connections = server_.peers.size();
            peer->start(std::move(request));
            return;
        }
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(request.version());
        response->keep_alive(false);
        if (request.method() == http::verb::get && request.target() == "/metrics") {
            response->result(http::status::ok);
            response->set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
            response->body() = metrics_text(server_.metrics());
        } else {
            response->result(http::status::not_found);
            response->set(http::field::content_type, "text/plain");
            response->body() = "not found: WebSocket upgrades and GET /metrics only\n";
        }
        response->prepare_payload();
        http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code, size_t) {
            beast::error_code ignored;
            self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        });
    }

    ServerCore& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    http::request_parser<http::empty_body> parser_;
};

}  // namespace

void ServerCore::accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (stopping) return;
        if (!ec) {
            serve_http(std::move(socket));
            return accept();
        }
        // Out of descriptors, most likely: a moment's pause rather than a loop that fails as fast as it can.
        pause.expires_after(kAcceptPause);
        pause.async_wait([this](beast::error_code e) {
            if (!e && !stopping) accept();
        });
    });
}

void ServerCore::serve_http(tcp::socket socket) {
    // A flood of connections that never ask for anything is cut short here; their requests time out.
    if (requests >= options.max_connections) {
        drops++;
        return;
    }
    requests++;
    std::make_shared<Request>(*this, std::move(socket))->read();
}

void ServerCore::welcome(Peer& peer) {
    if (peers.size() > options.max_connections) return peer.refuse("the server is full: too many connections");
    peer.read();
}

void ServerCore::handle(const std::shared_ptr<Peer>& peer, const ToServer& message) {
    if (const auto* m = std::get_if<ClientCreate>(&message)) {
        if (peer->table) return peer->drop("a second create or join");
        return create(peer, *m);
    }
    if (const auto* m = std::get_if<ClientJoin>(&message)) {
        if (peer->table) return peer->drop("a second create or join");
        return join(peer, *m);
    }
    if (!peer->table) return peer->drop("an input or hash before joining a room");
    if (const auto* m = std::get_if<ClientHash>(&message)) return hash(*peer, *m);
    if (!peer->input_bucket.take()) return peer->drop("too many inputs");
    if (peer->table->room.offer(peer->side, std::get<ClientInput>(message).input)) inputs++;
    else ignored++;
}

void ServerCore::create(const std::shared_ptr<Peer>& peer, const ClientCreate& m) {
    if (m.version != kProtocolVersion)
        return peer->refuse("this server speaks version " + std::to_string(kProtocolVersion));
    if (tables.size() >= options.max_rooms) return peer->refuse("the server is full: no room for another game");
    RoomCode code;
    do code = new_code();
    while (tables.count(code.value) || (code.value >> 35) % options.shards != options.shard);
    auto table = std::make_unique<Table>(code, hooks, ioc);
    if (!table->room.open()) return peer->refuse("the server cannot open a game");
    Table& t = *table;
    tables[code.value] = std::move(table);
    rooms = tables.size();
    seat(peer, t, t.room.seat(new_token()), false);
}

void ServerCore::join(const std::shared_ptr<Peer>& peer, const ClientJoin& m) {
    if (m.version != kProtocolVersion)
        return peer->refuse("this server speaks version " + std::to_string(kProtocolVersion));
    auto it = tables.find(m.code.value);
    if (it == tables.end()) return peer->refuse("no room " + show_code(m.code));
    Table& t = *it->second;
    if (t.room.busy()) return peer->refuse("room " + show_code(m.code) + " is busy: try again");
    if (!is_zero(m.token)) {
        int side = t.room.find(m.token);
        if (side < 0) return peer->refuse("that token holds no seat in room " + show_code(m.code));
        // The seat's old connection may linger, half open: the new one takes over.
        if (std::shared_ptr<Peer> old = t.peers[side]) old->end("its seat was taken back by a new connection");
        return seat(peer, t, side, true);
    }
    int side = t.room.seat(new_token());
    if (side < 0) return peer->refuse("room " + show_code(m.code) + " is full");
    seat(peer, t, side, false);
}

// The peer takes the side: ServerWelcome now, the game's snapshot at the next tick, frames after.
void ServerCore::seat(const std::shared_ptr<Peer>& peer, Table& table, int side, bool back) {
    peer->table = &table;
    peer->side = side;
    peer->room = show_code(table.code);
    peer->wants_snapshot = true;
    table.peers[side] = peer;
    table.room.arrive(side);
    peer->send(share(encode(ServerWelcome{table.code, static_cast<uint8_t>(side), side == 0, table.room.token(side)})));
    count_players();
    const char* what = back ? "rejoined" : side == 0 ? "created" : "joined";
    log("room " + peer->room + " " + what + ", side " + std::to_string(side) + " from " + peer->where);
    start_clock(table);
}

void ServerCore::hash(Peer& peer, const ClientHash& m) {
    // Hashes made before the last snapshot came in, or while one is on its way, say nothing new.
    if (peer.wants_snapshot || m.tick <= peer.synced_tick) return;
    uint64_t ours = 0;
    Room::Check check = peer.table->room.check(m.tick, m.hash, &ours);
    if (check == Room::Check::kUnknown) return;
    checks++;
    if (check == Room::Check::kMatch) {
        peer.desyncs = 0;
        return;
    }
    desyncs++;
    log("room " + peer.room + " desync at tick " + std::to_string(m.tick) + ", side " + std::to_string(peer.side) +
        ": client " + hex(m.hash) + ", server " + hex(ours));
    if (++peer.desyncs >= kMaxDesyncs) return peer.refuse("your game keeps differing from the room's");
    peer.wants_snapshot = true;
}

void ServerCore::leave(Peer& peer, const std::string& why) {
    peers.erase(peer.id);
    connections = peers.size();
    Table* table = peer.table;
    peer.table = nullptr;
    if (!table || stopping || table->peers[peer.side].get() != &peer) return;
    // Keep the peer alive until this returns: the table's reference may be the last.
    std::shared_ptr<Peer> hold = std::move(table->peers[peer.side]);
    int leader = table->room.leader();
    table->room.leave(peer.side);
    if (peer.faulty) table->room.unseat(peer.side);
    count_players();
    log("room " + peer.room + " left, side " + std::to_string(peer.side) + ": " + why);
    if (leader == peer.side && table->room.leader() >= 0)
        log("room " + peer.room + " led by side " + std::to_string(table->room.leader()) + " until side 0 is back");
    if (table->room.players() == 0) table->empty_since = Clock::now();
}

void ServerCore::count_players() {
    uint64_t n = 0;
    for (const auto& [code, table] : tables) n += static_cast<uint64_t>(table->room.players());
    players = n;
}

void ServerCore::start_clock(Table& table) {
    if (table.ticking) return;
    table.ticking = true;
    table.next = Clock::now() + std::chrono::milliseconds(options.tick_ms);
    arm(table);
}

void ServerCore::arm(Table& table) {
    table.timer.expires_at(table.next);
    table.timer.async_wait([this, code = table.code.value, at = &table](beast::error_code ec) {
        // The room may have expired since: look it up again rather than trust the pointer.
        auto it = tables.find(code);
        if (ec || stopping || it == tables.end() || it->second.get() != at) return;
        tick(*at);
    });
}

void ServerCore::tick(Table& table) {
    ServerFrame frame = table.room.step();
    frames++;
    Bytes frame_bytes = share(encode(frame));
    Bytes snapshot;
    for (std::shared_ptr<Peer> peer : table.peers) {
        if (!peer) continue;
        if (!peer->wants_snapshot) {
            peer->send(frame_bytes);
            continue;
        }
        if (!snapshot) snapshot = share(encode(ServerSnapshot{frame.tick, table.room.snapshot()}));
        if (snapshot->size() > kMaxMessage) {
            peer->refuse("the game is too large to send");
            continue;
        }
        peer->wants_snapshot = false;
        peer->synced_tick = frame.tick;
        peer->send(snapshot);
    }
    // A room no one is in stands still until someone comes back or it expires.
    if (table.room.players() == 0) {
        table.ticking = false;
        return;
    }
    // A late tick runs once, and the clock goes on from now: no bursts to catch up.
    Clock::time_point now = Clock::now();
    table.next += std::chrono::milliseconds(options.tick_ms);
    if (table.next < now) table.next = now;
    arm(table);
}

void ServerCore::sweep() {
    sweeper.expires_after(kSweepPeriod);
    sweeper.async_wait([this](beast::error_code ec) {
        if (ec || stopping) return;
        Clock::time_point now = Clock::now();
        for (auto it = tables.begin(); it != tables.end();) {
            Table& t = *it->second;
            if (t.room.players() > 0 || now - t.empty_since < std::chrono::seconds(options.expiry_seconds)) {
                ++it;
                continue;
            }
            log("room " + show_code(t.code) + " expired");
            it = tables.erase(it);
        }
        rooms = tables.size();
        sweep();
    });
}

Server::Server(ServerOptions options, GameHooks hooks)
    : impl_(std::make_unique<ServerCore>(std::move(options), std::move(hooks))) {}

Server::~Server() = default;

bool Server::listen(std::string* why) {
    beast::error_code ec;
    net::ip::address address = net::ip::make_address(impl_->options.bind, ec);
    if (ec) {
        if (why) *why = "not an address: " + impl_->options.bind;
        return false;
    }
    tcp::endpoint end(address, impl_->options.port);
    tcp::acceptor& a = impl_->acceptor;
    a.open(end.protocol(), ec);
    if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) a.bind(end, ec);
    if (!ec) a.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        if (why)
            *why = "cannot listen on " + impl_->options.bind + " port " + std::to_string(impl_->options.port) + ": " +
                   ec.message();
        return false;
    }
    impl_->port = a.local_endpoint().port();
    return true;
}

uint16_t Server::port() const { return impl_->port; }

void Server::run() {
    impl_->accept();
    impl_->sweep();
    impl_->ioc.run();
    // Every connection is closed and its handlers run out, then the rooms' games close on this thread,
    // whose globals they have been taking turns at.
    impl_->stopping = true;
    for (auto& [id, weak] : impl_->peers)
        if (std::shared_ptr<Peer> peer = weak.lock()) peer->close_now();
    impl_->ioc.restart();
    impl_->ioc.poll();
    impl_->tables.clear();
    impl_->rooms = 0;
}

void Server::stop() {
    net::post(impl_->ioc, [impl = impl_.get()] {
        impl->stopping = true;
        beast::error_code ec;
        impl->acceptor.close(ec);
        impl->sweeper.cancel();
        impl->pause.cancel();
        impl->ioc.stop();
    });
}

Metrics Server::metrics() const { return impl_->metrics(); }

std::string metrics_text(const Metrics& m) {
    struct Line {
        const char* name;
        const char* type;
        const char* help;
        uint64_t value;
    };
    const Line lines[] = {
        {"vantor_rooms", "gauge", "Rooms open.", m.rooms},
        {"vantor_players", "gauge", "Players connected to a room.", m.players},
        {"vantor_connections", "gauge", "WebSocket connections open.", m.connections},
        {"vantor_frames_total", "counter", "Ticks of every room, each sent as a frame.", m.frames_total},
        {"vantor_checks_total", "counter", "Clients' state hashes compared with the room's.", m.checks_total},
        {"vantor_desyncs_total", "counter", "Clients' state hashes that differed from the room's.", m.desyncs_total},
        {"vantor_refusals_total", "counter", "Refusals sent: server full, no such room, other version.",
         m.refusals_total},
        {"vantor_drops_total", "counter", "Connections closed for a fault: malformed, oversized, flooding, idle.",
         m.drops_total},
        {"vantor_inputs_total", "counter", "Players' inputs the games took.", m.inputs_total},
        {"vantor_ignored_total", "counter", "Players' inputs the games did not take.", m.ignored_total},
    };
    std::string text;
    for (const Line& l : lines) {
        text += std::string("# HELP ") + l.name + " " + l.help + "\n";
        text += std::string("# TYPE ") + l.name + " " + l.type + "\n";
        text += std::string(l.name) + " " + std::to_string(l.value) + "\n";
    }
    return text;
}

}  // namespace online
