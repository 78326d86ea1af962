// The lobby of online play: rooms, their seats, their clocks, the hash checks, the limits and the
// counters, with no sockets, threads or clocks of its own. A front (server.cpp over Boost.Beast, or
// loopback.h in the tests) hands it each connection as a Link, each message that arrives, and the time;
// it answers through the links. docs/ONLINE.md gives the rules, the limits and their defaults.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "online/cluster.h"
#include "online/log.h"
#include "online/room.h"
#include "online/rooms.h"

namespace online {

// Milliseconds on the front's steady clock; the lobby reads no clock itself.
using Millis = int64_t;
using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

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
    // Lanes: the server runs `lanes` lobbies, each on a thread of its own, and this lobby is lane
    // `lane`. Of shard I's codes, lane L has those whose first character's worth v has v / K worth L
    // modulo lanes (K: shards), so that the front can send a joining player to its lane by the code.
    uint32_t lane = 0;
    uint32_t lanes = 1;
    // A connection that completes no message for this long is closed; a room no one is in goes this
    // long after, or after abandon_seconds when no one but its creator was ever in it.
    uint32_t idle_seconds = 30;
    uint32_t expiry_seconds = 300;
    uint32_t abandon_seconds = 10;
    // What one address may hold: rooms it created that are open, rooms it creates a minute, and
    // connections at once (counted by the front, before any request).
    size_t rooms_per_address = 8;
    size_t creates_per_minute = 10;
    size_t connections_per_address = 32;
    // The HTTP request and the WebSocket upgrade must be done this soon after the connection.
    uint32_t upgrade_seconds = 5;
    // What may wait to be sent to one connection, counted in the memory it holds; and how long
    // frames may wait without the client taking a byte of them.
    size_t max_queued = 1024 * 1024;
    uint32_t write_seconds = 30;
    // The kernel's send buffer of a connection's socket, in bytes; 0: the system's, which on the
    // loopback takes a megabyte or more before a write is held up.
    int send_buffer = 0;
    // Where a desync's replay is written (relative to the working folder), keeping the newest
    // desync_replays; empty: none. One at most every 10 s, whatever the clients do.
    std::string desync_folder = "desyncs";
    size_t desync_replays = 20;
    // Where the log's lines go, called on a lane's thread (the server's front makes the calls of its
    // lanes take turns), so it must not block. Empty: the server
    // writes to standard error from a thread of its own (AsyncWriter), which no slow reader holds up.
    std::function<void(const std::string&)> log;
    // Joins to a code no room has, an address may make a minute, in bursts of as many: a code is one
    // of 2^40, so guessing one takes this many minutes times a great many.
    size_t guesses_per_minute = 20;
    // The browser build's site the front serves beside the rooms; none when empty.
    std::string site;
    // Who may read GET /metrics: an address, or "any". Empty: the loopback alone when a site is served,
    // anyone otherwise.
    std::string metrics_from;
    // PEM files: with both, the port speaks https:// and wss:// only. The front reads them again when
    // they change on disk.
    std::string tls_cert;
    std::string tls_key;
    // The cluster the server is one process of (cluster.h); none: a process on its own.
    std::shared_ptr<ClusterPort> cluster;
};

// Whether the front answers GET /metrics from the address (no port), by options.metrics_from.
bool metrics_allowed(const ServerOptions& options, const std::string& address);

// The upper bounds, in ms, of the buckets of the tick lateness histogram; the last bucket is +Inf.
constexpr std::array<Millis, 7> kLateBounds = {1, 5, 10, 25, 50, 100, 250};

// The lane of the process that holds rooms of the code, by options.shards and options.lanes.
uint32_t lane_of(RoomCode code, const ServerOptions& options);

// The counters /metrics shows.
struct Metrics {
    uint64_t rooms = 0;
    uint64_t players = 0;       // connected to a room
    uint64_t watchers = 0;      // watching a room
    uint64_t connections = 0;   // WebSocket connections, in a room or not yet
    uint64_t frames_total = 0;  // ticks of every room
    uint64_t checks_total = 0;  // clients' hashes compared with the room's
    uint64_t desyncs_total = 0;
    uint64_t refusals_total = 0;  // refusals sent: full, no such room, wrong version
    uint64_t drops_total = 0;     // connections closed for a fault: malformed, oversized, flooding, idle
    uint64_t inputs_total = 0;    // players' inputs the rooms' games took
    uint64_t ignored_total = 0;   // and those they did not
    uint64_t moves_total = 0;     // Joins sent on to the process of the cluster that has the room
    uint64_t takeovers_total = 0;        // rooms rebuilt here from the journal of a dead process
    uint64_t journal_dropped_total = 0;  // journal writes the cluster could not make
    uint64_t queued_bytes = 0;    // waiting to be sent, over every connection
    // Ticks by how late they ran: le[i] counts those at most kLateBounds[i] ms late, cumulative.
    std::array<uint64_t, kLateBounds.size()> late_le{};
    uint64_t late_count = 0;
    uint64_t late_sum_ms = 0;
};

// The counters in Prometheus's text format.
std::string metrics_text(const Metrics& m);

// One client's connection as the front keeps it.
class Link {
public:
    virtual ~Link() = default;
    // Queues a message; nothing once closing.
    virtual void send(Bytes bytes) = 0;
    // Closes once what is queued has been sent, at once and without a goodbye after that.
    virtual void close() = 0;
    // Closes at once. The lobby hears of it through Lobby::gone, never from within this call.
    virtual void drop() = 0;
    // The memory what waits to be sent holds, and the bytes the client has taken so far.
    virtual size_t queued() const = 0;
    virtual uint64_t taken() const = 0;
};

// Takes one per message, refilling at the rate a second up to the burst.
class Bucket {
public:
    Bucket(double rate, double burst) : rate_(rate), burst_(burst), tokens_(burst) {}
    bool take(Millis now);
    // Whether a take would succeed now, taking nothing.
    bool has(Millis now);

private:
    double rate_, burst_, tokens_;
    Millis last_ = 0;
    bool started_ = false;
};

// What the lobbies of one process share, each on its own thread: every address's allowances (open
// rooms it created, creates a minute, wrong codes), the count of rooms, and the pace of desync
// replays, so that each limit is the process's whatever the number of lanes. Behind one small lock.
class Allowances {
public:
    explicit Allowances(const ServerOptions& options) : options_(options) {}
    // Empty when the address may create a room now, which it then holds; else why not.
    std::string create(const std::string& address, Millis now);
    // A room taken over from another process, on behalf of the address that joined it: counted as if
    // it had created it, whatever its allowances.
    void adopted(const std::string& address);
    // A room the address created has gone, or was never opened.
    void closed(const std::string& address);
    // Whether the address has a guess left; and a guess spent on a code no room has.
    bool may_guess(const std::string& address, Millis now);
    void guessed(const std::string& address, Millis now);
    // True at most once every 10 s for the process: a desync's replay may be kept now.
    bool may_keep_desync(Millis now);
    // Forgets the addresses that hold no room and whose allowances a minute has refilled.
    void sweep(Millis now);

private:
    struct Address {
        size_t rooms = 0;  // open rooms it created
        Bucket creates{0, 0};
        Millis last_create = 0;
        Bucket guesses{0, 0};
        Millis last_guess = 0;
    };
    Address& address(const std::string& name);
    ServerOptions options_;
    std::mutex lock_;
    std::unordered_map<std::string, Address> addresses_;
    size_t rooms_ = 0;
    Millis next_desync_replay_ = 0;
};

class Lobby {
public:
    // The lanes of a process share their allowances; a lobby alone has its own.
    Lobby(ServerOptions options, GameHooks hooks, std::shared_ptr<Allowances> allowances = nullptr);
    ~Lobby();
    Lobby(const Lobby&) = delete;
    Lobby& operator=(const Lobby&) = delete;

    // A WebSocket connection from the address (no port), upgraded: its id, or 0 when it was refused,
    // in which case the link has been told why and closes.
    uint64_t connect(Link* link, const std::string& address, const std::string& where, Millis now);
    // One whole message from the connection; a ping or any other frame without one, as frame().
    void receive(uint64_t id, const uint8_t* data, size_t size, Millis now);
    void frame(uint64_t id, Millis now);
    // A fault the front saw (oversized, text, a broken handshake): the connection is dropped.
    void fault(uint64_t id, const std::string& why, Millis now);
    // The connection is over; the lobby forgets its link.
    void gone(uint64_t id, const std::string& why, Millis now);
    // A socket the front closed before any request, for a limit: counted and logged.
    void turn_away(const std::string& address, const std::string& why, Millis now);
    // Runs the ticks that are due and the sweep; when it should be called next.
    Millis advance(Millis now);
    Metrics metrics() const;
    // GET /rooms: the open rooms as JSON, made again at most once a second; and the list itself.
    const std::string& rooms_json(Millis now);
    std::vector<OpenRoom> open_rooms(Millis now);
    // The room's game, for a look at it; nullptr for none.
    Room* room(RoomCode code);
    // The room's watchers; 0 for no such room. The one count the lobby's lists read.
    size_t watchers(RoomCode code) const;
    const ServerOptions& options() const { return options_; }
    // Every room's game closes, on the calling thread, whose globals they took turns at.
    void close_rooms();

    // Makes the lobby one of a cluster's (cluster.h): its rooms are recorded and journaled there, a Join
    // for a room it does not have is looked up there, and it serves rooms only while the process holds
    // its lease. `post` runs a function on the lobby's thread, later, with the time then.
    using Post = std::function<void(std::function<void(Millis)>)>;
    void join_cluster(std::shared_ptr<ClusterPort> cluster, Post post);

private:
    struct Table;
    struct Conn;
    void handle(Conn& c, const ToServer& message, Millis now);
    void create(Conn& c, bool open, Millis now);
    void join(Conn& c, const ClientJoin& m, Millis now);
    void hash(Conn& c, const ClientHash& m);
    void digest(Conn& c, const ClientDigest& m);
    void keep_desync(Table& table, uint32_t tick, Millis now);
    void seat(Conn& c, Table& table, int side, bool back, Millis now);
    void watch(Conn& c, Table& table, bool full, Millis now);
    void refuse(Conn& c, const std::string& reason);
    void elsewhere(Conn& c, RoomCode code);
    void drop(Conn& c, const std::string& why);
    void tick(Table& table, Millis now);
    void sweep(Millis now);
    // False when the connection was dropped for it, and so is gone.
    bool send(Conn& c, Bytes bytes);
    bool send_snapshot(Conn& c, Table& table, Bytes* snapshot);
    std::shared_ptr<std::vector<uint8_t>> frame_buffer();
    std::string in_room(const Conn& c) const;
    // The cluster's part (lobby.cpp, at its end).
    bool ask_cluster(Conn& c, const ClientJoin& m);
    void heard(ClusterNews news, Millis now);
    bool rebuild(const std::string& code, const Found& found, const std::string& address, Millis now);
    void journal(Table& table, const ServerFrame& frame, Millis now);
    bool hold_lease(Millis now);
    void give_up(Millis now);

    ServerOptions options_;
    GameHooks hooks_;
    Log log_;
    std::unordered_map<uint64_t, std::unique_ptr<Table>> tables_;
    std::set<std::pair<Millis, uint64_t>> due_;  // the next tick of each room whose clock runs, and its code
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> conns_;
    std::shared_ptr<Allowances> allowances_;
    // Frames' buffers, used again once no connection holds them; spare_at_ is where to look first.
    std::vector<std::shared_ptr<std::vector<uint8_t>>> spare_;
    size_t spare_at_ = 0;
    uint64_t next_id_ = 1;
    Millis next_sweep_ = 0;
    Metrics counts_;
    std::string rooms_json_;
    Millis rooms_at_ = 0;
    bool rooms_made_ = false;
    std::shared_ptr<ClusterPort> cluster_;
    int cluster_id_ = 0;
    uint64_t lease_ = 0;  // the cluster's serving() the rooms are held under
};

}  // namespace online
