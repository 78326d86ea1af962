// The server's front: sockets, HTTP and timers, and nothing else. Every rule is a lobby's (lobby.h).
// The front accepts and answers HTTP on a thread of its own, and runs the rooms on lanes: each lane a
// lobby with its own io_context on its own thread, owning the rooms whose codes fall to it. An upgraded
// WebSocket goes to the lane its path names (/room/CODE), a Create to the lanes in turn; the lane then
// hands its lobby each connection, each message and the time.
#include "online/server.h"

#include <malloc.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "online/log.h"
#include "online/site.h"

namespace online {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// The bytes of WebSocket frames of any kind a connection may send a second: far above what a player
// sends, far below a flood of empty frames, which no message count would see.
constexpr size_t kReadBytesPerSecond = 2 * kMaxMessage;
// What a queued message holds beside its bytes: its place in the queue and its shared count.
constexpr size_t kQueueSlot = 64;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// An HTTP answer, a site's file included, is sent whole within this.
constexpr auto kSendTime = std::chrono::seconds(120);

// Counts the bytes read against a budget a second; the first time the budget runs out it calls over.
struct Meter {
    size_t left = kReadBytesPerSecond;
    std::function<void()> over;
    size_t available_read_bytes() const { return left; }
    size_t available_write_bytes() const { return std::numeric_limits<size_t>::max(); }
    void transfer_read_bytes(size_t n) {
        left -= std::min(left, n);
        if (left == 0 && over) std::exchange(over, nullptr)();
    }
    void transfer_write_bytes(size_t) {}
    void on_timer() { left = kReadBytesPerSecond; }
};

using Stream = beast::basic_stream<tcp, net::any_io_executor, Meter>;
using TlsStream = beast::ssl_stream<Stream>;

// Messages a gathered write takes from the front of a connection's queue.
constexpr size_t kGather = 16;

// Writes the head of a final, unmasked, binary WebSocket frame of n bytes, as a server sends it; its
// length, 2 to 10 bytes.
size_t frame_head(uint8_t* head, size_t n) {
    head[0] = 0x82;
    if (n < 126) {
        head[1] = static_cast<uint8_t>(n);
        return 2;
    }
    if (n <= 0xFFFF) {
        head[1] = 126, head[2] = static_cast<uint8_t>(n >> 8), head[3] = static_cast<uint8_t>(n);
        return 4;
    }
    head[1] = 127;
    for (int i = 0; i < 8; i++) head[2 + i] = static_cast<uint8_t>(static_cast<uint64_t>(n) >> (56 - 8 * i));
    return 10;
}

// How often, at most, the certificate's files are looked at for a change: on an accept, so that an
// idle server does nothing.
constexpr Millis kTlsCheck = 2000;

}  // namespace

// The certificate and key, read again when either file changes on disk (a renewal) for the
// connections that come after; a file that cannot be read keeps the old ones.
class TlsFiles {
public:
    TlsFiles(std::string cert, std::string key) : cert_(std::move(cert)), key_(std::move(key)) {}
    bool load(std::string* why) {
        stamp_ = stamp();
        context_ = make(why);
        return context_ != nullptr;
    }
    // The context for a new connection; each SSL object holds its own reference to the one it was made from.
    net::ssl::context& context(Millis now, const std::function<void(const std::string&)>& log) {
        if (now < checked_ + kTlsCheck) return *context_;
        checked_ = now;
        std::string seen = stamp();
        if (seen == stamp_) return *context_;
        stamp_ = seen;
        std::string why;
        if (auto fresh = make(&why)) {
            context_ = std::move(fresh);
            log("tls: read the certificate " + cert_ + " again");
        } else {
            log("tls: keeping the certificate in use: " + why);
        }
        return *context_;
    }

private:
    std::string stamp() const {
        std::error_code a, b;
        auto c = std::filesystem::last_write_time(cert_, a).time_since_epoch().count();
        auto k = std::filesystem::last_write_time(key_, b).time_since_epoch().count();
        return std::to_string(a ? 0 : c) + "/" + std::to_string(b ? 0 : k);
    }
    std::shared_ptr<net::ssl::context> make(std::string* why) const {
        auto context = std::make_shared<net::ssl::context>(net::ssl::context::tls_server);
        context->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                             net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1);
        for (const std::string& file : {cert_, key_}) {
            if (!std::ifstream(file)) {
                *why = "cannot read " + file;
                return nullptr;
            }
        }
        beast::error_code ec;
        context->use_certificate_chain_file(cert_, ec);
        if (ec) {
            *why = "cannot use the certificate " + cert_ + ": " + ec.message();
            return nullptr;
        }
        // Also refuses a key that is not the certificate's, as between the two writes of a renewal.
        context->use_private_key_file(key_, net::ssl::context::pem, ec);
        if (ec) {
            *why = "cannot use the key " + key_ + ": " + ec.message();
            return nullptr;
        }
        return context;
    }

    std::string cert_, key_;
    std::string stamp_;
    Millis checked_ = 0;
    std::shared_ptr<net::ssl::context> context_;
};

// The lanes' counters, added up.
void add(Metrics* sum, const Metrics& m) {
    sum->rooms += m.rooms, sum->players += m.players, sum->watchers += m.watchers;
    sum->connections += m.connections, sum->frames_total += m.frames_total, sum->checks_total += m.checks_total;
    sum->desyncs_total += m.desyncs_total, sum->refusals_total += m.refusals_total;
    sum->drops_total += m.drops_total, sum->inputs_total += m.inputs_total, sum->ignored_total += m.ignored_total;
    sum->queued_bytes += m.queued_bytes, sum->late_count += m.late_count, sum->late_sum_ms += m.late_sum_ms;
    for (size_t i = 0; i < kLateBounds.size(); i++) sum->late_le[i] += m.late_le[i];
    sum->moves_total += m.moves_total, sum->takeovers_total += m.takeovers_total;
    // The cluster's own count, which every lane reads alike.
    sum->journal_dropped_total = std::max(sum->journal_dropped_total, m.journal_dropped_total);
}

// One lane: a lobby and the rooms it owns, served by an io_context on a thread of its own. The
// rooms' games take turns at that thread's globals.
struct Lane {
    Lane(ServerOptions options, GameHooks hooks, std::shared_ptr<Allowances> shared, Clock::time_point start)
        : lobby(std::move(options), std::move(hooks), std::move(shared)), epoch(start) {}
    Millis now() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - epoch).count(); }
    void wake();
    void run(const std::function<void()>& ready);
    void publish() {
        std::lock_guard<std::mutex> hold(metrics_lock);
        published = lobby.metrics();
    }
    Metrics last() const {
        std::lock_guard<std::mutex> hold(metrics_lock);
        return published;
    }
    // Runs f on the lane's thread and waits for its answer; after a second, or once the lane has
    // stopped, the fallback.
    template <typename T, typename F>
    T ask(F f, T fallback) {
        if (ioc.get_executor().running_in_this_thread()) return f();
        auto task = std::make_shared<std::packaged_task<T()>>(std::move(f));
        std::future<T> answer = task->get_future();
        net::post(ioc, [task] { (*task)(); });
        if (answer.wait_for(std::chrono::seconds(1)) != std::future_status::ready) return fallback;
        return answer.get();
    }

    // Declared before the io_context: the connections its handlers hold die with it, and reach it.
    Lobby lobby;
    Clock::time_point epoch;
    bool trim = false;  // a connection that held much memory has gone: hand it back
    Millis published_at = -1000;
    net::io_context ioc{1};
    net::steady_timer clock{ioc};
    Clock::time_point armed = Clock::time_point::max();
    bool stopping = false;
    mutable std::mutex metrics_lock;
    Metrics published;
    std::thread thread;
};

struct ServerCore {
    ServerCore(ServerOptions o, GameHooks hooks)
        : writer(o.log ? nullptr : std::make_unique<AsyncWriter>([](const std::string& line) {
              std::fprintf(stderr, "vantor-server: %s\n", line.c_str());
          })),
          options(with_log(std::move(o), writer.get())),
          allowances(std::make_shared<Allowances>(options)),
          ready(hooks.thread) {
        if (!options.site.empty()) site = Site::open(options.site);
        // A TLS stream cannot move to another thread's io_context once its handshake is under way.
        if (!options.tls_cert.empty()) options.lanes = 1;
        options.lanes = std::max(1u, options.lanes);
        for (uint32_t i = 0; i < options.lanes; i++) {
            ServerOptions mine = options;
            mine.lane = i;
            lanes.push_back(std::make_unique<Lane>(mine, hooks, allowances, epoch));
            Lane* lane = lanes.back().get();
            // What the cluster answers a lane reaches it on the lane's own thread. Joins go to the lane
            // their code falls to, so a room taken over is rebuilt there.
            if (options.cluster)
                lane->lobby.join_cluster(options.cluster, [lane](std::function<void(Millis)> f) {
                    net::post(lane->ioc, [lane, f = std::move(f)] {
                        if (lane->stopping) return;
                        f(lane->now());
                        lane->wake();
                    });
                });
        }
    }
    // A log of the caller's own is called by one lane at a time.
    static ServerOptions with_log(ServerOptions o, AsyncWriter* writer) {
        if (writer) {
            o.log = writer->sink();
            return o;
        }
        o.log = [log = std::move(o.log), lock = std::make_shared<std::mutex>()](const std::string& line) {
            std::lock_guard<std::mutex> hold(*lock);
            log(line);
        };
        return o;
    }
    Millis now() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - epoch).count(); }
    void accept();
    void admit(tcp::socket socket);
    template <typename Next>
    void serve(Next stream, std::string address);
    // The lane of a WebSocket's path: a code's, or the next in turn for a Create or any other path.
    Lane& lane_for(std::string_view target);
    Metrics metrics();
    std::string rooms_json();

    // Declared before the io_contexts: the connections their handlers hold die with them, and reach these.
    std::unique_ptr<AsyncWriter> writer;
    ServerOptions options;
    std::shared_ptr<Allowances> allowances;
    std::function<void()> ready;
    std::optional<Site> site;
    Clock::time_point epoch = Clock::now();
    // The counts below, which lanes change as their connections end.
    std::mutex sockets_lock;
    std::unordered_map<std::string, size_t> sockets;  // open, by address, before and after the upgrade
    size_t open = 0;
    std::string rooms_cache;
    Millis rooms_at = 0;
    bool rooms_made = false;
    std::atomic<uint32_t> turn{0};
    std::vector<std::unique_ptr<Lane>> lanes;
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer pause{ioc};
    bool stopping = false;
    std::atomic<uint16_t> port{0};
    std::unique_ptr<TlsFiles> tls;  // none: plain ws:// and http://
};

namespace {

// An open socket counted against its address while it lives.
class Slot {
public:
    Slot(ServerCore& s, std::string address) : s_(&s), address_(std::move(address)) {
        std::lock_guard<std::mutex> hold(s_->sockets_lock);
        s_->sockets[address_]++;
        s_->open++;
    }
    Slot(Slot&& o) noexcept : s_(std::exchange(o.s_, nullptr)), address_(std::move(o.address_)) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
        if (!s_) return;
        std::lock_guard<std::mutex> hold(s_->sockets_lock);
        s_->open--;
        if (--s_->sockets[address_] == 0) s_->sockets.erase(address_);
    }
    const std::string& address() const { return address_; }

private:
    ServerCore* s_;
    std::string address_;
};

// One WebSocket connection, over TCP or TLS: what it sends goes to the lobby as it comes; a queue of
// what goes out.
//
// Over TCP the peer frames its messages itself and writes what is queued in one gathered write, at
// once, from the lobby's call; only what the socket will not take now is copied aside and left to an
// asynchronous write. Beast's stream would write one message an operation, each through the reactor.
// Beast still reads, and answers a ping or a close itself: one that comes while a write is held up
// could land inside its frame, so the peer then shuts its sending side instead, and the client hears
// the end of the stream, never a broken frame. Over TLS, Beast writes.
template <typename Next>
class Peer : public Link, public std::enable_shared_from_this<Peer<Next>> {
    static constexpr bool kGathers = std::is_same_v<Next, Stream>;

public:
    Peer(ServerCore& s, Lane& lane, Next next, Slot slot, std::string where)
        : s_(s), lane_(lane), slot_(std::move(slot)), where_(std::move(where)), ws_(std::move(next)) {}
    ~Peer() override {
        if (!forgotten_) lane_.lobby.gone(id_, "the connection broke", lane_.now());
        if (most_ > 64 * 1024) lane_.trim = true;
    }

    // The request and any bytes that came after it in the same read: a client may send its first
    // message at once.
    void start(const std::string& head) {
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = std::chrono::seconds(s_.options.upgrade_seconds);
        timeout.idle_timeout = websocket::stream_base::none();  // the lobby's rule
        timeout.keep_alive_pings = false;
        ws_.set_option(timeout);
        ws_.read_message_max(kMaxMessage);
        ws_.binary(true);
        if (s_.options.send_buffer > 0) {
            beast::error_code ec;
            beast::get_lowest_layer(ws_).socket().set_option(net::socket_base::send_buffer_size(s_.options.send_buffer),
                                                             ec);
        }
        std::weak_ptr<Peer> weak = this->weak_from_this();
        beast::get_lowest_layer(ws_).rate_policy().over = [weak, ex = ws_.get_executor()] {
            net::post(ex, [weak] {
                if (auto p = weak.lock())
                    p->fault("more than " + std::to_string(kReadBytesPerSecond) + " bytes a second");
            });
        };
        ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
            if (kGathers && writing_ && kind != websocket::frame_type::pong) {
                beast::error_code ec;
                beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_send, ec);
            }
            if (!forgotten_) lane_.lobby.frame(id_, lane_.now());
        });
        head_ = head;
        ws_.async_accept(net::buffer(head_), [self = this->shared_from_this()](beast::error_code ec) {
            self->head_.clear();
            self->head_.shrink_to_fit();
            if (ec) return self->close_socket();
            self->id_ = self->lane_.lobby.connect(self.get(), self->slot_.address(), self->where_, self->lane_.now());
            self->forgotten_ = false;
            if constexpr (kGathers) {
                beast::error_code nb;
                beast::get_lowest_layer(self->ws_).socket().non_blocking(true, nb);
            }
            if (!self->closing_) self->read();
        });
    }

    void send(Bytes bytes) override {
        if (closing_ || forgotten_) return;
        queued_ += bytes->capacity() + kQueueSlot;
        most_ = std::max(most_, queued_);
        queue_.push_back(std::move(bytes));
        if (!writing_) write();
    }
    // Once the refusal is written the socket closes at once: no close handshake to wait for.
    void close() override {
        closing_ = true;
        if (!writing_) close_socket();
    }
    void drop() override {
        forgotten_ = true;
        close_socket();
    }
    size_t queued() const override { return queued_; }
    uint64_t taken() const override { return taken_; }

private:
    void fault(const std::string& why) {
        if (!forgotten_) lane_.lobby.fault(id_, why, lane_.now());
        close_socket();
    }
    void read() {
        ws_.async_read(buffer_, [self = this->shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
    }
    void on_read(beast::error_code ec) {
        if (forgotten_) return;
        if (ec == websocket::error::message_too_big)
            return fault("a message longer than " + std::to_string(kMaxMessage));
        if (ec) return gone(ec == websocket::error::closed ? "it closed the connection" : "the connection broke");
        if (!ws_.got_binary()) return fault("a text message");
        auto data = buffer_.cdata();
        lane_.lobby.receive(id_, static_cast<const uint8_t*>(data.data()), data.size(), lane_.now());
        buffer_.consume(buffer_.size());
        lane_.wake();
        if (!forgotten_ && !closing_) read();
    }
    void write() {
        if constexpr (kGathers) {
            write_gathered();
        } else {
            writing_ = true;
            ws_.async_write(net::buffer(*queue_.front()), [self = this->shared_from_this()](beast::error_code ec,
                                                                                             size_t n) {
                self->writing_ = false;
                if (ec || self->forgotten_) return self->broken();
                self->taken_ += n;
                self->pop(1);
                if (!self->queue_.empty()) return self->write();
                self->written();
            });
        }
    }
    // Frames and writes what is queued, kGather messages a write; a write the socket takes only in part
    // leaves the rest to an asynchronous write, its bytes copied. A socket that fails is closed, and the
    // lobby hears of it from the read that fails: never from within its own call.
    void write_gathered() {
        tcp::socket& socket = beast::get_lowest_layer(ws_).socket();
        while (!queue_.empty()) {
            size_t n = std::min(queue_.size(), kGather), total = 0;
            std::array<std::array<uint8_t, 10>, kGather> heads;
            std::array<net::const_buffer, 2 * kGather> parts;
            for (size_t i = 0; i < n; i++) {
                const std::vector<uint8_t>& message = *queue_[i];
                parts[2 * i] = net::buffer(heads[i].data(), frame_head(heads[i].data(), message.size()));
                parts[2 * i + 1] = net::buffer(message);
                total += parts[2 * i].size() + message.size();
            }
            beast::error_code ec;
            size_t sent = socket.write_some(std::span<const net::const_buffer>(parts.data(), 2 * n), ec);
            if (ec == net::error::would_block) ec = {}, sent = 0;
            if (ec) {
                closing_ = true;
                return close_socket();
            }
            taken_ += sent;
            if (sent < total) {
                rest_.clear();
                for (size_t i = 0, skip = sent; i < 2 * n; i++) {
                    const auto* bytes = static_cast<const uint8_t*>(parts[i].data());
                    size_t from = std::min(skip, parts[i].size());
                    rest_.insert(rest_.end(), bytes + from, bytes + parts[i].size());
                    skip -= from;
                }
                queued_ += rest_.capacity();
                pop(n);
                writing_ = true;
                net::async_write(socket, net::buffer(rest_),
                                 [self = this->shared_from_this()](beast::error_code e, size_t done) {
                                     self->writing_ = false;
                                     self->queued_ -= self->rest_.capacity();
                                     if (e || self->forgotten_) return self->broken();
                                     self->taken_ += done;
                                     if (self->rest_.capacity() > 64 * 1024) self->rest_ = {};
                                     if (!self->queue_.empty()) return self->write();
                                     self->written();
                                 });
                return;
            }
            pop(n);
        }
        written();
    }
    void pop(size_t n) {
        for (size_t i = 0; i < n; i++) {
            queued_ -= queue_.front()->capacity() + kQueueSlot;
            queue_.pop_front();
        }
    }
    // The queue is empty. One that grew for a slow reader gives its memory back; a short one keeps it
    // for the next frame.
    void written() {
        if (most_ > 64 * 1024) queue_.shrink_to_fit();
        if (closing_) close_socket();
    }
    // A write failed, or completed after the socket was closed for a drop: the queue is let go only now.
    void broken() {
        release();
        gone("the connection broke");
    }
    void gone(const std::string& why) {
        close_socket();
        if (forgotten_) return;
        forgotten_ = true;
        lane_.lobby.gone(id_, why, lane_.now());
    }
    // The queue waits for a write under way to finish: that write still reads its front.
    void close_socket() {
        beast::error_code ec;
        tcp::socket& socket = beast::get_lowest_layer(ws_).socket();
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
        if (!writing_) release();
    }
    void release() {
        queue_.clear();
        queue_.shrink_to_fit();
        queued_ = 0;
    }

    ServerCore& s_;
    Lane& lane_;
    Slot slot_;
    std::string where_;
    websocket::stream<Next> ws_;
    std::string head_;
    uint64_t id_ = 0;
    bool forgotten_ = true;  // the lobby does not know it, or no longer
    beast::flat_buffer buffer_;
    std::deque<Bytes> queue_;
    std::vector<uint8_t> rest_;  // what a gathered write left to the asynchronous one
    size_t queued_ = 0, most_ = 0;
    uint64_t taken_ = 0;
    bool writing_ = false;
    bool closing_ = false;
};

// One HTTP request, which must come whole within the upgrade deadline, TLS handshake included: a
// WebSocket upgrade goes on as a Peer; GET /metrics and GET /rooms are answered, and the site's files
// when there is a site; the rest not. A request too long or malformed for the parser is answered 400.
template <typename Next>
class Request : public std::enable_shared_from_this<Request<Next>> {
public:
    Request(ServerCore& s, Next stream, Slot slot) : s_(s), slot_(std::move(slot)), stream_(std::move(stream)) {}

    void start() {
        beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(s_.options.upgrade_seconds));
        if constexpr (std::is_same_v<Next, TlsStream>) {
            stream_.async_handshake(net::ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code ec) {
                                        if (!ec) self->read();
                                    });
        } else {
            read();
        }
    }

private:
    void read() {
        parser_.header_limit(8 * 1024);
        http::async_read(stream_, buffer_, parser_,
                         [self = this->shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
    }

    void on_read(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == http::error::partial_message) return;
        if (ec && ec.category() == beast::http::make_error_code(http::error::bad_target).category())
            return text(http::status::bad_request, "bad request: " + ec.message() + "\n");
        if (ec) return;
        http::request<http::empty_body> request = parser_.release();
        version_ = request.version();
        if (websocket::is_upgrade(request)) return upgrade(request);
        head_ = request.method() == http::verb::head;
        bool get = request.method() == http::verb::get || head_;
        if (get && request.target() == "/metrics") {
            if (!metrics_allowed(s_.options, slot_.address()))
                return text(http::status::forbidden, "forbidden: /metrics is not for your address\n");
            return text(http::status::ok, metrics_text(s_.metrics()), "text/plain; version=0.0.4; charset=utf-8");
        }
        if (get && request.target() == "/rooms")
            return text(http::status::ok, s_.rooms_json(), "application/json", "no-cache");
        if (s_.site) return file(request);
        text(http::status::not_found, "not found: WebSocket upgrades, GET /metrics and GET /rooms only\n");
    }

    void text(http::status status, std::string body, const char* type = "text/plain", const char* cache = nullptr) {
        auto response = std::make_shared<http::response<http::string_body>>(status, version_);
        response->set(http::field::content_type, type);
        if (cache) response->set(http::field::cache_control, cache);
        response->body() = std::move(body);
        response->prepare_payload();
        send(response);
    }

    // The site's file the target names, read only here: the site (site.h) chose it. A HEAD or a 304
    // has its headers alone.
    void file(const http::request<http::empty_body>& request) {
        auto view = [](beast::string_view v) { return std::string_view(v.data(), v.size()); };
        SiteReply reply =
            s_.site->resolve(view(request.method_string()), view(request.target()),
                             view(request[http::field::accept_encoding]), view(request[http::field::if_none_match]));
        if (reply.status == 400) return text(http::status::bad_request, "bad request: not a path of the site\n");
        if (reply.status == 405) return text(http::status::method_not_allowed, "GET and HEAD only\n");
        if (reply.status == 404) return text(http::status::not_found, "not found\n");
        if (reply.status == 304 || head_) {
            auto response = std::make_shared<http::response<http::empty_body>>(
                reply.status == 304 ? http::status::not_modified : http::status::ok, version_);
            describe(*response, reply);
            return send(response);
        }
        http::file_body::value_type body;
        beast::error_code ec;
        body.open(reply.file.c_str(), beast::file_mode::scan, ec);
        if (ec) return text(http::status::not_found, "not found\n");
        auto response = std::make_shared<http::response<http::file_body>>(http::status::ok, version_);
        describe(*response, reply);
        response->body() = std::move(body);
        send(response);
    }

    template <typename Response>
    static void describe(Response& response, const SiteReply& reply) {
        response.set(http::field::etag, reply.etag);
        response.set(http::field::cache_control, kSiteCacheControl);
        if (reply.varies) response.set(http::field::vary, "Accept-Encoding");
        if (reply.status != 200) return;
        response.set(http::field::content_type, reply.type);
        response.set("X-Content-Type-Options", "nosniff");
        if (reply.gzip) response.set(http::field::content_encoding, "gzip");
        response.content_length(reply.size);
    }

    template <typename Response>
    void send(std::shared_ptr<Response> response) {
        response->keep_alive(false);
        // How the page tells this server from a static host, without asking for a file that may be missing.
        response->set("X-Vantor-Server", "rooms");
        // The program on a slow phone's connection takes a while; one that takes no bytes at all goes.
        beast::get_lowest_layer(stream_).expires_after(kSendTime);
        // A HEAD's answer has the headers of a GET's and no body.
        auto serializer = std::make_shared<http::response_serializer<typename Response::body_type>>(*response);
        if (head_) serializer->split(true);
        auto done = [self = this->shared_from_this(), response, serializer](beast::error_code, size_t) {
            beast::error_code ignored;
            beast::get_lowest_layer(self->stream_).socket().shutdown(tcp::socket::shutdown_send, ignored);
        };
        if (head_) http::async_write_header(stream_, *serializer, std::move(done));
        else http::async_write(stream_, *serializer, std::move(done));
    }

    // The WebSocket stream reads the request again, then whatever followed it in the buffer.
    void upgrade(const http::request<http::empty_body>& request) {
        std::ostringstream head;
        head << request;
        auto rest = buffer_.cdata();
        std::string bytes = head.str() + std::string(static_cast<const char*>(rest.data()), rest.size());
        beast::error_code ec;
        tcp::endpoint end = beast::get_lowest_layer(stream_).socket().remote_endpoint(ec);
        std::string where = ec ? "?" : end.address().to_string() + ":" + std::to_string(end.port());
        beast::get_lowest_layer(stream_).expires_never();
        Lane& lane = s_.lane_for(std::string_view(request.target().data(), request.target().size()));
        if constexpr (std::is_same_v<Next, TlsStream>) {
            // Already on the one lane's thread.
            std::make_shared<Peer<Next>>(s_, lane, std::move(stream_), std::move(slot_), where)->start(bytes);
        } else {
            hand_over(lane, std::move(bytes), std::move(where));
        }
    }

    // The socket leaves this thread's io_context for the lane's, where the WebSocket goes on.
    void hand_over(Lane& lane, std::string bytes, std::string where) {
        tcp::socket& socket = beast::get_lowest_layer(stream_).socket();
        beast::error_code ec;
        tcp::endpoint local = socket.local_endpoint(ec);
        if (ec) return;
        int fd = socket.release(ec);
        if (ec) return;
        net::post(lane.ioc, [&s = s_, &lane, fd, protocol = local.protocol(),
                             slot = std::make_shared<Slot>(std::move(slot_)), bytes = std::move(bytes),
                             where = std::move(where)] {
            tcp::socket moved(lane.ioc);
            beast::error_code e;
            moved.assign(protocol, fd, e);
            if (e) {
                ::close(fd);
                return;
            }
            std::make_shared<Peer<Stream>>(s, lane, Stream(std::move(moved)), std::move(*slot), where)->start(bytes);
        });
    }

    ServerCore& s_;
    Slot slot_;
    Next stream_;
    beast::flat_buffer buffer_;
    http::request_parser<http::empty_body> parser_;
    unsigned version_ = 11;
    bool head_ = false;
};

}  // namespace

void ServerCore::accept() {
    auto done = [this](beast::error_code ec, tcp::socket socket) {
        if (stopping) return;
        if (!ec) {
            admit(std::move(socket));
            return accept();
        }
        // Out of descriptors, most likely: a moment's pause rather than a loop that fails as fast as it can.
        pause.expires_after(kAcceptPause);
        pause.async_wait([this](beast::error_code e) {
            if (!e && !stopping) accept();
        });
    };
    // A TLS connection is served on the one lane from its handshake on; a plain one moves to its lane
    // once its upgrade names the room.
    if (tls) acceptor.async_accept(lanes.front()->ioc, std::move(done));
    else acceptor.async_accept(std::move(done));
}

// A socket beyond the limits is closed at once, holding no descriptor and sent nothing.
void ServerCore::admit(tcp::socket socket) {
    beast::error_code ec;
    tcp::endpoint end = socket.remote_endpoint(ec);
    if (ec) return;
    std::string address = end.address().to_string();
    bool full = false, crowded = false;
    {
        std::lock_guard<std::mutex> hold(sockets_lock);
        auto it = sockets.find(address);
        full = open >= options.max_connections;
        crowded = it != sockets.end() && it->second >= options.connections_per_address;
    }
    if (full || crowded) {
        Lane& first = *lanes.front();
        std::string why = full ? "too many connections" : "too many connections from its address";
        net::post(first.ioc, [&first, address, why] { first.lobby.turn_away(address, why, first.now()); });
        socket.close(ec);
        return;
    }
    if (tls) serve(TlsStream(Stream(std::move(socket)), tls->context(now(), options.log)), address);
    else serve(Stream(std::move(socket)), address);
}

template <typename Next>
void ServerCore::serve(Next stream, std::string address) {
    std::make_shared<Request<Next>>(*this, std::move(stream), Slot(*this, std::move(address)))->start();
}

Lane& ServerCore::lane_for(std::string_view target) {
    size_t at = target.rfind("/room/");
    RoomCode code;
    if (at != std::string_view::npos) {
        std::string_view name = target.substr(at + 6);
        name = name.substr(0, name.find('?'));
        if (name.size() == kCodeLength && parse_code(name, &code)) return *lanes[lane_of(code, options)];
    }
    return *lanes[turn++ % lanes.size()];
}

// Each lane's counters as they are, summed; a lane that does not answer within a second gives its last.
Metrics ServerCore::metrics() {
    Metrics sum;
    for (auto& lane : lanes) {
        Lane& l = *lane;
        add(&sum, l.ask<Metrics>([&l] { return l.lobby.metrics(); }, l.last()));
    }
    return sum;
}

// Every lane's open rooms in one list, made again at most once a second.
std::string ServerCore::rooms_json() {
    Millis at = now();
    if (rooms_made && at - rooms_at < 1000) return rooms_cache;
    std::vector<OpenRoom> all;
    for (auto& lane : lanes) {
        Lane& l = *lane;
        std::vector<OpenRoom> some =
            l.ask<std::vector<OpenRoom>>([&l] { return l.lobby.open_rooms(l.now()); }, std::vector<OpenRoom>());
        all.insert(all.end(), some.begin(), some.end());
    }
    std::sort(all.begin(), all.end(), [](const OpenRoom& a, const OpenRoom& b) {
        return a.age != b.age ? a.age > b.age : a.code.value < b.code.value;
    });
    rooms_cache = online::rooms_json(all);
    rooms_at = at;
    rooms_made = true;
    return rooms_cache;
}

// Runs what the lobby has due, and sets the clock for its next call.
void Lane::wake() {
    if (stopping) return;
    Millis now_ms = now();
    Millis next = lobby.advance(now_ms);
    // Counting the connections' queues costs a pass over them: four times a second is enough.
    if (now_ms >= published_at + 250) {
        published_at = now_ms;
        publish();
    }
    if (trim) {
        trim = false;
        malloc_trim(0);
    }
    Clock::time_point at = epoch + std::chrono::milliseconds(next);
    if (at >= armed && armed > Clock::now()) return;
    armed = at;
    clock.expires_at(at);
    clock.async_wait([this](beast::error_code ec) {
        if (ec) return;
        armed = Clock::time_point::max();
        wake();
    });
}

// Serves until stopped; then every connection's handlers run out, and the rooms' games close on this
// thread, whose globals they have been taking turns at.
void Lane::run(const std::function<void()>& ready) {
    if (ready) ready();
    auto work = net::make_work_guard(ioc);
    wake();
    ioc.run();
    stopping = true;
    ioc.restart();
    ioc.poll();
    lobby.close_rooms();
    publish();
}

Server::Server(ServerOptions options, GameHooks hooks)
    : impl_(std::make_unique<ServerCore>(std::move(options), std::move(hooks))) {}

Server::~Server() = default;

bool Server::listen(std::string* why) {
    if (!impl_->options.site.empty() && !impl_->site) {
        if (why) *why = "the site " + impl_->options.site + " is not a folder";
        return false;
    }
    if (!impl_->options.tls_cert.empty() || !impl_->options.tls_key.empty()) {
        impl_->tls = std::make_unique<TlsFiles>(impl_->options.tls_cert, impl_->options.tls_key);
        std::string reason;
        if (!impl_->tls->load(&reason)) {
            if (why) *why = reason;
            return false;
        }
    }
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

uint32_t Server::lanes() const { return static_cast<uint32_t>(impl_->lanes.size()); }

void Server::run() {
    for (auto& lane : impl_->lanes) {
        Lane& l = *lane;
        l.thread = std::thread([&l, ready = impl_->ready] { l.run(ready); });
    }
    impl_->accept();
    impl_->ioc.run();
    impl_->stopping = true;
    impl_->ioc.restart();
    impl_->ioc.poll();
    for (auto& lane : impl_->lanes) lane->thread.join();
}

void Server::stop() {
    net::post(impl_->ioc, [impl = impl_.get()] {
        impl->stopping = true;
        beast::error_code ec;
        impl->acceptor.close(ec);
        impl->pause.cancel();
        impl->ioc.stop();
        for (auto& lane : impl->lanes) {
            net::post(lane->ioc, [&l = *lane] {
                l.stopping = true;
                l.clock.cancel();
                l.ioc.stop();
            });
        }
    });
}

Metrics Server::metrics() const {
    Metrics sum;
    for (auto& lane : impl_->lanes) add(&sum, lane->last());
    return sum;
}

}  // namespace online
