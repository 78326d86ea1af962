// The server's front: sockets, HTTP and timers on one io_context, and nothing else. Every rule is the
// lobby's (lobby.h); the front hands it each connection, each message and the time.
#include "online/server.h"

#include <malloc.h>

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
#include <mutex>
#include <optional>
#include <sstream>
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

struct ServerCore {
    ServerCore(ServerOptions o, GameHooks hooks)
        : writer(o.log ? nullptr : std::make_unique<AsyncWriter>([](const std::string& line) {
              std::fprintf(stderr, "vantor-server: %s\n", line.c_str());
          })),
          options(with_log(std::move(o), writer.get())),
          lobby(options, std::move(hooks)) {
        if (!options.site.empty()) site = Site::open(options.site);
        if (options.cluster)
            lobby.join_cluster(options.cluster, [this](std::function<void(Millis)> f) {
                net::post(ioc, [this, f = std::move(f)] {
                    if (stopping) return;
                    f(now());
                    wake();
                });
            });
    }
    static ServerOptions with_log(ServerOptions o, AsyncWriter* writer) {
        if (writer) o.log = writer->sink();
        return o;
    }
    Millis now() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - epoch).count(); }
    void accept();
    void admit(tcp::socket socket);
    template <typename Next>
    void serve(Next stream, std::string address);
    void wake();
    void publish() {
        std::lock_guard<std::mutex> hold(metrics_lock);
        published = lobby.metrics();
    }

    // Declared before the io_context: the connections its handlers hold die with it, and reach these.
    std::unique_ptr<AsyncWriter> writer;
    ServerOptions options;
    Lobby lobby;
    std::optional<Site> site;
    Clock::time_point epoch = Clock::now();
    std::unordered_map<std::string, size_t> sockets;  // open, by address, before and after the upgrade
    size_t open = 0;
    bool trim = false;  // a connection that held much memory has gone: hand it back
    Millis published_at = -1000;
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer clock{ioc};
    net::steady_timer pause{ioc};
    Clock::time_point armed = Clock::time_point::max();
    bool stopping = false;
    std::atomic<uint16_t> port{0};
    mutable std::mutex metrics_lock;
    Metrics published;
    std::unique_ptr<TlsFiles> tls;  // none: plain ws:// and http://
};

namespace {

// An open socket counted against its address while it lives.
class Slot {
public:
    Slot(ServerCore& s, std::string address) : s_(&s), address_(std::move(address)) {
        s_->sockets[address_]++;
        s_->open++;
    }
    Slot(Slot&& o) noexcept : s_(std::exchange(o.s_, nullptr)), address_(std::move(o.address_)) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
        if (!s_) return;
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
template <typename Next>
class Peer : public Link, public std::enable_shared_from_this<Peer<Next>> {
public:
    Peer(ServerCore& s, Next next, Slot slot, std::string where)
        : s_(s), slot_(std::move(slot)), where_(std::move(where)), ws_(std::move(next)) {}
    ~Peer() override {
        if (!forgotten_) s_.lobby.gone(id_, "the connection broke", s_.now());
        if (most_ > 64 * 1024) s_.trim = true;
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
        std::weak_ptr<Peer> weak = this->weak_from_this();
        beast::get_lowest_layer(ws_).rate_policy().over = [weak, ex = ws_.get_executor()] {
            net::post(ex, [weak] {
                if (auto p = weak.lock())
                    p->fault("more than " + std::to_string(kReadBytesPerSecond) + " bytes a second");
            });
        };
        ws_.control_callback([this](websocket::frame_type, beast::string_view) {
            if (!forgotten_) s_.lobby.frame(id_, s_.now());
        });
        head_ = head;
        ws_.async_accept(net::buffer(head_), [self = this->shared_from_this()](beast::error_code ec) {
            self->head_.clear();
            self->head_.shrink_to_fit();
            if (ec) return self->close_socket();
            self->id_ = self->s_.lobby.connect(self.get(), self->slot_.address(), self->where_, self->s_.now());
            self->forgotten_ = false;
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
        if (!forgotten_) s_.lobby.fault(id_, why, s_.now());
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
        s_.lobby.receive(id_, static_cast<const uint8_t*>(data.data()), data.size(), s_.now());
        buffer_.consume(buffer_.size());
        s_.wake();
        if (!forgotten_ && !closing_) read();
    }
    void write() {
        writing_ = true;
        ws_.async_write(net::buffer(*queue_.front()),
                        [self = this->shared_from_this()](beast::error_code ec, size_t n) { self->on_write(ec, n); });
    }
    void on_write(beast::error_code ec, size_t n) {
        writing_ = false;
        // A write can complete after the socket was closed for a drop: the queue is let go only now.
        if (ec || forgotten_) {
            release();
            return gone("the connection broke");
        }
        taken_ += n;
        queued_ -= queue_.front()->capacity() + kQueueSlot;
        queue_.pop_front();
        if (!queue_.empty()) return write();
        queue_.shrink_to_fit();
        if (closing_) close_socket();
    }
    void gone(const std::string& why) {
        close_socket();
        if (forgotten_) return;
        forgotten_ = true;
        s_.lobby.gone(id_, why, s_.now());
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
    Slot slot_;
    std::string where_;
    websocket::stream<Next> ws_;
    std::string head_;
    uint64_t id_ = 0;
    bool forgotten_ = true;  // the lobby does not know it, or no longer
    beast::flat_buffer buffer_;
    std::deque<Bytes> queue_;
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
            return text(http::status::ok, metrics_text(s_.lobby.metrics()), "text/plain; version=0.0.4; charset=utf-8");
        }
        if (get && request.target() == "/rooms")
            return text(http::status::ok, s_.lobby.rooms_json(s_.now()), "application/json", "no-cache");
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
        auto peer = std::make_shared<Peer<Next>>(s_, std::move(stream_), std::move(slot_), where);
        peer->start(bytes);
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
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
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
    });
}

// A socket beyond the limits is closed at once, holding no descriptor and sent nothing.
void ServerCore::admit(tcp::socket socket) {
    beast::error_code ec;
    tcp::endpoint end = socket.remote_endpoint(ec);
    if (ec) return;
    std::string address = end.address().to_string();
    auto it = sockets.find(address);
    size_t mine = it == sockets.end() ? 0 : it->second;
    if (open >= options.max_connections || mine >= options.connections_per_address) {
        lobby.turn_away(
            address, open >= options.max_connections ? "too many connections" : "too many connections from its address",
            now());
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

// Runs what the lobby has due, and sets the clock for its next call.
void ServerCore::wake() {
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

void Server::run() {
    impl_->accept();
    impl_->wake();
    impl_->ioc.run();
    // Every connection's handlers run out, then the rooms' games close on this thread, whose globals
    // they have been taking turns at.
    impl_->stopping = true;
    impl_->ioc.restart();
    impl_->ioc.poll();
    impl_->lobby.close_rooms();
    impl_->publish();
}

void Server::stop() {
    net::post(impl_->ioc, [impl = impl_.get()] {
        impl->stopping = true;
        beast::error_code ec;
        impl->acceptor.close(ec);
        impl->clock.cancel();
        impl->pause.cancel();
        impl->ioc.stop();
    });
}

Metrics Server::metrics() const {
    std::lock_guard<std::mutex> hold(impl_->metrics_lock);
    return impl_->published;
}

}  // namespace online
