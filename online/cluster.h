// What a lobby asks of the cluster it belongs to (docs/ONLINE.md, More than one process): the room
// records and journals to write, the rooms it does not have to find, and whether this process holds
// its lease. Every call returns at once; the work is done on the cluster's own thread, and what comes
// back reaches the lobby through the function it attached, which the front posts to the lobby's thread.
// Rooms are named by their shown code ("XXXX-XXXX"), tokens and journal entries are bytes in strings,
// so that the side that talks to Redis (cluster_redis.h) needs nothing of the game.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace online {

// Where a room lives, as a lookup found it.
struct Found {
    enum Kind {
        none,         // no such room in the cluster
        moved,        // its owner lives: `address` is where to send the player
        mine,         // this process owns it already (another lookup took it over first)
        taken,        // this process has just taken it over: the room's tokens and journal follow
        unreachable,  // the directory does not answer
    };
    Kind kind = none;
    std::string address;
    std::vector<std::string> tokens;  // by seat; an empty one is a free seat
    std::string snapshot;             // encode(ServerSnapshot)
    std::vector<std::string> frames;  // encode(ServerFrame) each, after the snapshot, in order
};

// What the cluster tells a lobby.
struct ClusterNews {
    enum Kind {
        found,          // the answer to find()
        want_snapshot,  // the room's journal has a gap or was lost: write a snapshot at its next tick
    };
    Kind kind = found;
    uint64_t conn = 0;  // the connection find() was for
    std::string code;
    Found where;
};

class ClusterPort {
public:
    using Tell = std::function<void(ClusterNews)>;
    virtual ~ClusterPort() = default;
    // A lobby's way to hear back, called on the cluster's thread until detach(), which waits for a call
    // under way; a lobby attaches once and passes its number with every call below.
    virtual int attach(Tell tell) = 0;
    virtual void detach(int lobby) = 0;
    // Which lease this process serves its rooms under: 0 while it holds none, then a new number each
    // time it takes one. A lobby whose number changes has lost its rooms to the cluster, and gives them
    // up. Read on any thread; it reads the clock, so that a process stopped past its lease sees it at once.
    virtual uint64_t serving() const = 0;

    virtual void created(int lobby, const std::string& code, const std::vector<std::string>& tokens) = 0;
    virtual void token(const std::string& code, int seat, const std::string& token) = 0;
    virtual void snapshot(const std::string& code, std::string bytes) = 0;
    virtual void frame(const std::string& code, std::string bytes) = 0;
    virtual void closed(const std::string& code) = 0;
    // Where the room is: moved to its owner, or taken over if its owner is gone. Answered with `found`.
    virtual void find(int lobby, uint64_t conn, const std::string& code) = 0;
    // Journal writes not made, for /metrics.
    virtual uint64_t dropped() const = 0;
};

}  // namespace online
