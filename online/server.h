// The server of online play: rooms of up to four players, each room a headless game that is the
// authority, reached over WebSocket; the same port answers GET /metrics. One thread runs it all, and
// rooms share nothing but that thread. docs/ONLINE.md describes the rules and the messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "online/room.h"

namespace online {

struct ServerOptions {
    std::string bind = "0.0.0.0";
    uint16_t port = 0;  // 0: any free port; port() tells which
    uint32_t tick_ms = 100;
    size_t max_rooms = 200;
    size_t max_connections = 1000;
    // Rooms of shard I of K only: the first character of their codes is worth I modulo K, so that a
    // proxy in front of K servers can send a joining player to the right one by the code alone.
    uint32_t shard = 0;
    uint32_t shards = 1;
    // A connection that sends nothing for this long is closed; a room no one is in goes this long after.
    uint32_t idle_seconds = 30;
    uint32_t expiry_seconds = 300;
    // Where the log's lines go; standard error when empty.
    std::function<void(const std::string&)> log;
};

// The counters /metrics shows.
struct Metrics {
    uint64_t rooms = 0;
    uint64_t players = 0;       // connected to a room
    uint64_t connections = 0;   // WebSocket connections, in a room or not yet
    uint64_t frames_total = 0;  // ticks of every room
    uint64_t checks_total = 0;  // clients' hashes compared with the room's
    uint64_t desyncs_total = 0;
    uint64_t refusals_total = 0;  // refusals sent: full, no such room, wrong version
    uint64_t drops_total = 0;     // connections closed for a fault: malformed, oversized, flooding, idle
    uint64_t inputs_total = 0;    // players' inputs the rooms' games took
    uint64_t ignored_total = 0;   // and those they did not
};

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
    // Serves on the calling thread, whose globals the rooms' games take turns at, until stop().
    void run();
    // From any thread.
    void stop();
    Metrics metrics() const;

private:
    std::unique_ptr<ServerCore> impl_;
};

// The counters in Prometheus's text format.
std::string metrics_text(const Metrics& m);

}  // namespace online
