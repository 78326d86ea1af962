// The lobby on the loopback, with no sockets, threads or clocks: connections are objects, the clock
// moves when run_for says so, and every message arrives at once, in order. The tests drive the lobby
// through it; Session plays over it as over the network.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "online/lobby.h"
#include "online/transport.h"

namespace online {

class Loopback;
class LoopTransport;

// A client's connection, seen from both ends: the lobby's Link, and what the client sends and reads.
class LoopConnection : public Link {
public:
    LoopConnection(Loopback& loop, const std::string& address);
    // Gone from the lobby, as when the client's program ends.
    ~LoopConnection() override;
    LoopConnection(const LoopConnection&) = delete;
    LoopConnection& operator=(const LoopConnection&) = delete;

    // As the client: a whole message, a ping (a frame without a message), the next message sent to it
    // (nothing once all are read, or when it is not one), and whether the server has closed.
    void send_message(const std::vector<uint8_t>& bytes);
    void ping();
    std::optional<ToClient> next();
    // Reads all that waits: the reason of the refusal among it, if any.
    std::string refusal();
    bool closed() const { return closed_ && waiting_.empty(); }
    // The count of messages sent to it that it has not read.
    size_t unread() const { return waiting_.size(); }
    // The lobby's Link.
    void send(Bytes bytes) override;
    void close() override { closing_ = true; }
    void drop() override;
    size_t queued() const override;
    uint64_t taken() const override { return taken_; }

private:
    Loopback& loop_;
    uint64_t id_ = 0;
    std::deque<Bytes> waiting_;
    uint64_t taken_ = 0;
    bool closing_ = false, closed_ = false;
};

class Loopback {
public:
    // A lane of a process shares its allowances with the other lanes' loopbacks.
    Loopback(ServerOptions options, GameHooks hooks, std::shared_ptr<Allowances> allowances = nullptr);
    Lobby& lobby() { return lobby_; }
    Millis now() const { return now_; }
    // Hands the lobby what the sessions have sent, then moves the clock on, running everything that
    // falls due, at its time.
    void run_for(Millis ms);
    // A connection from the address, upgraded.
    std::unique_ptr<LoopConnection> connect(const std::string& address = "127.0.0.1");
    // A session's transport from the address, which sends the hello at once.
    std::unique_ptr<Transport> open(std::vector<uint8_t> hello, const std::string& address = "127.0.0.1");
    // The sessions' connections from the address break, as a phone's do when it changes networks.
    void cut(const std::string& address);

private:
    friend class LoopConnection;
    friend class LoopTransport;
    Lobby lobby_;
    std::set<LoopTransport*> transports_;
    Millis now_ = 1000;
    int ports_ = 40000;
};

}  // namespace online
