// The server of online play: rooms of up to four players, each room a headless game that is the
// authority, reached over WebSocket; the same port answers GET /metrics. The rooms run on lanes
// (options.lanes), each a lobby (lobby.h) with every rule on a thread of its own, behind a front of
// Boost.Beast sockets and timers (server.cpp) that accepts and answers HTTP on the calling thread.
// docs/ONLINE.md describes the rules, the limits and the messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "online/lobby.h"

namespace online {

struct ServerCore;

class Server {
public:
    Server(ServerOptions options, GameHooks hooks);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens. False with a reason when the address cannot be had.
    bool listen(std::string* why);
    uint16_t port() const;
    // The lanes it runs: options.lanes, or one with TLS.
    uint32_t lanes() const;
    // Serves until stop(): the front on the calling thread, each lane on a thread it starts, whose
    // globals that lane's rooms' games take turns at.
    void run();
    // From any thread.
    void stop();
    // From any thread: the counters as they were a quarter of a second ago at most.
    Metrics metrics() const;

private:
    std::unique_ptr<ServerCore> impl_;
};

}  // namespace online
