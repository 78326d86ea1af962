// A player's connection to a room, for the desktop game, the browser build and the tests. The transport
// (online/transport.h) only queues what arrives; the game's thread calls pump(), which plays it
// into the running game, the thread's current one, and reports its hashes. The game's own clicks go
// to the server through send_input, never straight into the game: the server's frames bring back the
// ones the room takes. Nothing here blocks the game's thread, and a lost connection never hangs it.
// A connection that drops once welcomed is opened again by itself, with the seat's token, for a
// minute (rejoin.h); the seat is the computer's meanwhile, and the first snapshot puts the game back.
// A server of a cluster may answer a Join with "moved": the hello goes once to the address it names.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "online/protocol.h"
#include "online/rejoin.h"
#include "online/transport.h"
#include "replay/playback.h"

namespace online {

class Session {
public:
    // Rung whenever something arrives or the connection is lost, so that the front end can wake its
    // event loop; on the desktop from the network thread. It must not touch the game.
    using Wake = online::Wake;

    // Connects and asks for a new room, whose creator the player is. The request goes to the server's
    // path and "room/new" (ws://host:port/room/new); a join goes to "room/CODE", so that a proxy in front
    // of several servers can tell where the room is by the path alone. The server itself ignores it.
    // An open room is listed by the server's GET /rooms for anyone to join.
    static std::unique_ptr<Session> create(const Address& server, replay::Deliver deliver, Wake wake = {},
                                           bool open = false);
    // Connects and joins the room: with a zero token on a new seat, with a seat's token back on that seat.
    static std::unique_ptr<Session> join(const Address& server, RoomCode code, const Token& token,
                                         replay::Deliver deliver, Wake wake = {});
    // Connects and watches the room: every frame, no seat.
    static std::unique_ptr<Session> watch(const Address& server, RoomCode code, replay::Deliver deliver,
                                          Wake wake = {});
    // Over a transport already open, which has sent its hello (a Create or a Join): the loopback's.
    static std::unique_ptr<Session> over(std::unique_ptr<Transport> transport, replay::Deliver deliver);
    // Opens a connection to the room again, sending that hello (a Join): how the session rejoins.
    using Reopen = std::function<std::unique_ptr<Transport>(RoomCode room, std::vector<uint8_t> hello)>;
    // Milliseconds on a steady clock: the real one unless a test gives its own.
    using Clock = std::function<int64_t()>;
    // For a session made over(): how it rejoins, and by which clock. create and join set their own.
    void rejoin_by(Reopen reopen, Clock clock = {});
    // Closes the connection at once, without waiting for the server.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // On the game's thread, with the session's game entered and its window open: applies what has
    // arrived (the welcome, snapshots, frames) and sends the state's hash every 10 ticks.
    void pump();
    // Sends the player's press, release or key to the room, which decides whether its game takes it.
    // Nothing is sent before playing() nor once lost().
    void send_input(uint32_t message, uint32_t wParam, int32_t lParam);

    // Known once the welcome has been pumped.
    bool welcomed() const { return welcomed_; }
    RoomCode code() const { return code_; }
    int side() const { return side_; }
    bool creator() const { return creator_; }
    const Token& token() const { return token_; }
    // Welcomed as a watcher: asked to watch, or a join that found every seat taken.
    bool watching() const { return watching_; }
    // The server serves the page on its own port, so an invitation may link to it.
    bool site() const { return site_; }
    // Who is in the room, as last heard; rosters() counts those heard, so a front end sees a change.
    const ServerRoster& roster() const { return roster_; }
    uint32_t rosters() const { return rosters_; }
    // The game follows the room's once its first snapshot has been pumped; its tick then.
    bool playing() const { return playing_; }
    uint32_t tick() const { return tick_; }
    // Snapshots restored: the first, and one for each time the server found the game had drifted.
    uint32_t snapshots() const { return snapshots_; }
    // The connection dropped and the session is trying to get it back: no frames, no inputs sent.
    bool rejoining() const { return rejoining_; }
    int seconds_left() const { return rejoin_.seconds_left(now()); }
    // Try again at the next pump, as when the page comes back to the foreground.
    void rejoin_now() {
        if (rejoining_) rejoin_.hurry();
    }
    // The connection is gone for good and everything that came before has been pumped; why, in a
    // player's words.
    bool lost() const { return lost_; }
    // While rejoining: why the connection dropped.
    const std::string& reason() const { return rejoining_ ? dropped_why_ : reason_; }

private:
    Session(std::unique_ptr<Transport> transport, replay::Deliver deliver);
    void apply(const ToClient& message);
    void lose(const std::string& why);
    void dropped(const std::string& why);
    void try_again();
    void follow();
    int64_t now() const;

    std::unique_ptr<Transport> net_;
    replay::Deliver deliver_;
    bool welcomed_ = false;
    RoomCode code_;
    int side_ = -1;
    bool creator_ = false;
    Token token_{};
    bool watching_ = false;
    bool site_ = false;
    ServerRoster roster_;
    uint32_t rosters_ = 0;
    bool playing_ = false;
    uint32_t tick_ = 0;
    uint32_t snapshots_ = 0;
    bool lost_ = false;
    std::string reason_;
    // The pieces of the state hash at the last few checkpoints, for the server to ask after a desync.
    struct Digest {
        uint32_t tick = 0;
        std::vector<uint64_t> pieces;
    };
    static constexpr size_t kKeptDigests = 8;
    std::array<Digest, kKeptDigests> digests_{};
    Reopen reopen_;
    Clock clock_;
    std::vector<uint8_t> hello_;  // the last sent, for a move to send again
    Wake wake_;
    std::string moved_to_;  // a move heard, not yet followed
    bool followed_ = false;  // this hello has been moved once already
    bool rejoining_ = false;
    Rejoin rejoin_;
    std::string dropped_why_;  // why the connection dropped, for when it is given up
    std::mt19937 random_{std::random_device{}()};
};

}  // namespace online
