// How a session's messages travel: one WebSocket to the server. On the desktop it is Boost.Beast on a
// thread of the transport's own (transport_beast.cpp); in the browser build it is the browser's
// WebSocket, whose events arrive on the game's thread while it waits (transport_web.cpp). Either way
// what arrives waits, decoded, in the inbox until the game's thread takes it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "online/protocol.h"

namespace online {

// Where a server is: "ws://HOST:PORT[/PATH]", "wss://HOST:PORT[/PATH]" or "HOST:PORT" (ws); an IPv6
// host in brackets. The port is 80 for ws and 443 for wss when not given.
struct Address {
    std::string host;
    std::string port;
    std::string path = "/";
    bool tls = false;  // wss://: the server's certificate is checked against the system's store
};
bool parse_address(const std::string& text, Address* address, std::string* why);
// "HOST:PORT", or "wss://HOST:PORT" over TLS, an IPv6 host in brackets: how a player names the server
// after a room's code, and what parse_address reads back.
std::string show_address(const Address& address);

// Rung whenever something arrives or the connection is lost, from whatever thread the transport's
// events come on; it must not touch the game.
using Wake = std::function<void()>;

// The messages that have arrived, and the end of the connection with its reason, between the transport
// and the game's thread.
class Inbox {
public:
    void put(ToClient message);
    // The first reason given is the one kept.
    void fail(const std::string& why);
    // Moves what has arrived into *arrived; true, with the reason, once the connection is gone.
    bool take(std::deque<ToClient>* arrived, std::string* why);

private:
    std::mutex lock_;
    std::deque<ToClient> messages_;
    bool closed_ = false;
    std::string reason_;
};

class Transport {
public:
    // Closes the connection at once, without waiting for the server.
    virtual ~Transport() = default;
    // From the game's thread; nothing is sent once the connection is gone.
    virtual void send(std::vector<uint8_t> bytes) = 0;
    // Ends the connection; the inbox then says "closed" unless it had a reason already.
    virtual void close() = 0;

    Inbox inbox;
};

// Connects to the address, path included, and sends hello once the connection is open. A message that
// does not decode, or is not binary, ends the connection; so does a wss:// server whose certificate
// the system's store (or SSL_CERT_FILE) does not vouch for, for the address's host.
std::unique_ptr<Transport> open_transport(const Address& address, std::vector<uint8_t> hello, Wake wake);

// A plain HTTP GET of the target from the server, on the calling thread, within a few seconds: true
// with the body of a 200 of at most a MiB, else false with why. The desktop's only (`vantor --rooms`).
bool http_get(const Address& server, const std::string& target, std::string* body, std::string* why);

}  // namespace online
