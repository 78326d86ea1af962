// The desktop's transport: Boost.Beast on a thread of its own, which resolves, connects, for wss://
// makes the TLS handshake, says hello, then reads into the inbox and writes the outbox.
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <deque>
#include <thread>
#include <type_traits>

#include "online/transport.h"

namespace online {

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using Plain = beast::tcp_stream;
using Tls = beast::ssl_stream<beast::tcp_stream>;

constexpr auto kConnectTime = std::chrono::seconds(10);
// The server sends a frame every tick: this long without one, and it is gone.
constexpr auto kSilence = std::chrono::seconds(30);

// The system's store of certificate authorities, or the file SSL_CERT_FILE names.
ssl::context client_context() {
    ssl::context context(ssl::context::tls_client);
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                        ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    beast::error_code ignored;  // without a store every certificate is refused, which says why
    context.set_default_verify_paths(ignored);
    context.set_verify_mode(ssl::verify_peer);
    return context;
}

// The certificate must be for the host: its name (sent as SNI too) or its IP address.
bool expect_host(SSL* ssl, const std::string& host) {
    beast::error_code ec;
    net::ip::make_address(host, ec);
    if (!ec) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 && SSL_set1_host(ssl, host.c_str()) == 1;
}

template <typename Next>
class BeastTransport : public Transport {
public:
    BeastTransport(const Address& a, std::vector<uint8_t> h, Wake w)
        : address(a), hello(std::move(h)), wake(std::move(w)), ws(make_stream()) {
        thread = std::thread([this] {
            resolver.async_resolve(address.host, address.port,
                                   [this](beast::error_code ec, tcp::resolver::results_type found) {
                                       if (ec) return fail("cannot find the server " + address.host);
                                       connect(found);
                                   });
            ioc.run();
        });
    }

    ~BeastTransport() override {
        ioc.stop();
        if (thread.joinable()) thread.join();
    }

    // From any thread.
    void send(std::vector<uint8_t> bytes) override {
        net::post(ioc, [this, bytes = std::move(bytes)]() mutable {
            if (closed_here) return;
            outbox.push_back(std::move(bytes));
            if (outbox.size() == 1 && open) write();
        });
    }

    // From any thread.
    void close() override {
        net::post(ioc, [this] { fail("closed"); });
    }

private:
    websocket::stream<Next> make_stream() {
        if constexpr (std::is_same_v<Next, Tls>) return websocket::stream<Next>(ioc, context);
        else return websocket::stream<Next>(ioc);
    }

    void connect(const tcp::resolver::results_type& found) {
        beast::get_lowest_layer(ws).expires_after(kConnectTime);
        beast::get_lowest_layer(ws).async_connect(found, [this](beast::error_code ec, const tcp::endpoint&) {
            if (ec) return fail("cannot connect to " + address.host + ":" + address.port + ": " + ec.message());
            if constexpr (std::is_same_v<Next, Tls>) {
                if (!expect_host(ws.next_layer().native_handle(), address.host))
                    return fail("cannot check a certificate for " + address.host);
                ws.next_layer().async_handshake(ssl::stream_base::client, [this](beast::error_code e) {
                    if (e) return fail(refusal(e));
                    upgrade();
                });
            } else {
                upgrade();
            }
        });
    }

    // Why the TLS handshake failed, in one line: the certificate's fault when it was one.
    std::string refusal(const beast::error_code& e) {
        long verdict = SSL_get_verify_result(ws.next_layer().native_handle());
        std::string where = address.host + ":" + address.port;
        if (verdict != X509_V_OK)
            return "the certificate of " + where + " is refused: " + X509_verify_cert_error_string(verdict);
        return "no secure connection to " + where + ": " + e.message();
    }

    void upgrade() {
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
            open = true;
            outbox.push_front(std::move(hello));
            write();
            read();
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
            inbox.put(std::move(*message));
            if (wake) wake();
            read();
        });
    }

    void write() {
        ws.async_write(net::buffer(outbox.front()), [this](beast::error_code ec, size_t) {
            if (ec) return fail("the connection to the server broke");
            outbox.pop_front();
            if (!outbox.empty()) write();
        });
    }

    void fail(const std::string& why) {
        if (closed_here) return;
        closed_here = true;
        beast::error_code ec;
        beast::get_lowest_layer(ws).socket().close(ec);
        inbox.fail(why);
        if (wake) wake();
    }

    Address address;
    std::vector<uint8_t> hello;
    Wake wake;
    net::io_context ioc{1};
    ssl::context context = client_context();
    tcp::resolver resolver{ioc};
    websocket::stream<Next> ws;
    beast::flat_buffer buffer;
    std::deque<std::vector<uint8_t>> outbox;
    bool open = false;         // the upgrade is done: writes may start
    bool closed_here = false;  // on the network thread
    std::thread thread;
};

}  // namespace

std::unique_ptr<Transport> open_transport(const Address& address, std::vector<uint8_t> hello, Wake wake) {
    if (address.tls) return std::make_unique<BeastTransport<Tls>>(address, std::move(hello), std::move(wake));
    return std::make_unique<BeastTransport<Plain>>(address, std::move(hello), std::move(wake));
}

bool http_get(const Address& server, const std::string& target, std::string* body, std::string* why) {
    namespace http = beast::http;
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    http::response_parser<http::string_body> parser;
    parser.body_limit(1024 * 1024);
    beast::flat_buffer buffer;
    beast::error_code failed;
    std::string where = server.host + ":" + server.port;
    // One deadline for the lot: a server that answers slowly or not at all is given up on.
    stream.expires_after(kConnectTime);
    tcp::resolver resolver(ioc);
    http::request<http::empty_body> request(http::verb::get, target, 11);
    request.set(http::field::host, where);
    resolver.async_resolve(server.host, server.port, [&](beast::error_code ec, tcp::resolver::results_type found) {
        if (ec) return void(failed = ec);
        stream.async_connect(found, [&](beast::error_code connected, const tcp::endpoint&) {
            if (connected) return void(failed = connected);
            http::async_write(stream, request, [&](beast::error_code written, size_t) {
                if (written) return void(failed = written);
                http::async_read(stream, buffer, parser, [&](beast::error_code read, size_t) { failed = read; });
            });
        });
    });
    ioc.run();
    if (failed) return *why = "cannot get " + target + " from " + where + ": " + failed.message(), false;
    if (parser.get().result() != http::status::ok)
        return *why = where + " answers " + target + " with " + std::to_string(parser.get().result_int()), false;
    *body = std::move(parser.get().body());
    return true;
}

}  // namespace online
