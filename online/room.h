// A room's game: the authority every client's game follows. The room keeps the seats of its players,
// decides which of their inputs the game takes, applies those at once and lists them in the next
// frame, and keeps the hashes the clients' reports are checked against. No network here: the server
// hands it what the players send.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "online/protocol.h"
#include "replay/game.h"
#include "replay/playback.h"
#include "replay/stream.h"

namespace online {

// How a room or a session reaches the game: the front end's start-up and window procedure live in
// the layer above this one.
struct GameHooks {
    // Opens the window of the thread's current game and starts it, as openwindow does.
    std::function<bool()> open;
    // Hands the thread's current game one message through the window procedure's way in.
    replay::Deliver deliver;
    // Readies a thread that rooms' games will be made on (each of a server's lanes), before the first;
    // none: the thread is ready as it is.
    std::function<void()> thread;
};

class Room {
public:
    explicit Room(const GameHooks& hooks);
    // Enters the game and closes its window.
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    // Opens the game and takes it past the intro to the title screen on a random seed. The game is at
    // tick 0 then. False when its window cannot be opened.
    bool open();

    // A new seat: side k for the k-th player, -1 once all sides are seated. The first is the creator's.
    int seat(const Token& token);
    // The side of the seat the token holds, -1 for none; and the token a seat holds.
    int find(const Token& token) const;
    const Token& token(int side) const { return seats_[static_cast<size_t>(side) % kMaxPlayers].token; }
    // The seat's player is connected, new or back: its side is a person's. Gone: a side of a person no
    // one is there to play is handed to the computer.
    void arrive(int side);
    void leave(int side);
    // Frees the seat of a player who has left, for the next to join: one dropped for a fault.
    void unseat(int side);
    bool connected(int side) const;
    // Who may set up the game on the title screen and Abort: the creator (side 0) while connected,
    // else the connected player of the lowest side, so that a room whose creator has gone can still
    // start and end its games. -1 when no one is connected.
    int leader() const;
    // So many inputs wait for the next frame that the room takes no more before it, nor anyone joining.
    bool busy() const;
    int players() const;

    // An input from the player of the side: true when the game takes it, which it does at once; it is
    // in the next frame. Presses in the side's turn; on the title, Abort, F and the space bar, and the
    // map in a computer's turn (fast play), the leader's.
    bool offer(int side, const GameInput& input);

    // Fast play is on and a computer side is to move: the room ticks four times as often.
    bool fast();

    // The inputs taken since the last tick, then the next tick: the frame every client plays.
    ServerFrame step();
    // A turn passed, or the screen changed, at the last step: a moment for the journal's snapshot.
    bool turned() const { return turned_; }

    // A room taken over from a dead process: its game, opened, becomes the snapshot of a tick, then
    // plays the frames after it as a client would (a gap in their ticks is ticks without inputs); the
    // seats hold their tokens, no one connected, so their sides are the computer's until their players
    // come back. False with why when the journal does not play; the state hash at its end, before the
    // seats are settled, in *hash.
    bool rebuild(const ServerSnapshot& snapshot, const std::vector<ServerFrame>& frames,
                 const std::vector<Token>& tokens, std::string* why, uint64_t* hash);
    uint32_t tick() const { return tick_; }
    // The game as it is now; between two ticks only at a tick's end, so that the snapshot of tick T is
    // followed by frame T + 1.
    std::vector<uint8_t> snapshot();

    enum class Check { kMatch, kDiffers, kUnknown };
    // A client's hash of the tick against the room's, which keeps those of the last 2560 ticks.
    Check check(uint32_t tick, uint64_t hash, uint64_t* ours) const;
    // The pieces of the room's state hash at one of the last few checkpoints (replay::state_hash),
    // null when no longer kept: what a desync's digest is compared with.
    const std::vector<uint64_t>* pieces(uint32_t tick) const;
    // The game in play since its Start press, as a replay cut short now: what a desync is replayed
    // from. False on the title screen.
    bool recording(replay::Recording* out);

    // What the list of open rooms shows of it.
    struct Summary {
        int seated = 0;        // seats taken, their players connected or not
        std::string map;       // the map chosen on the title, or the one in play
        bool playing = false;  // past the title: a game is being placed, played or is over
    };
    Summary summary();

    // Runs f with the room's game entered: a look at its globals.
    template <typename F>
    auto in(F f) {
        return game_.in(f);
    }

private:
    struct Seat {
        bool taken = false;
        bool connected = false;
        Token token{};
    };
    void apply(const GameInput& input);
    void hand(int side, bool computer);
    void settle();
    void checkpoint();
    bool takes_press(int side, int x, int y);

    GameHooks hooks_;
    replay::Game game_;
    bool open_ = false;
    std::array<Seat, kMaxPlayers> seats_{};
    std::vector<GameInput> pending_;
    int pressed_by_ = -1;  // the side whose press was taken last; its release is taken too
    uint32_t tick_ = 0;
    bool turned_ = false;
    static constexpr size_t kKept = 256;
    std::array<std::pair<uint32_t, uint64_t>, kKept> hashes_{};
    struct Pieces {
        uint32_t tick = 0;
        std::vector<uint64_t> hashes;
    };
    static constexpr size_t kKeptPieces = 8;
    std::array<Pieces, kKeptPieces> pieces_{};
    // Hears the game's inputs from each Start press, as the desktop's recorder does.
    replay::Recorder recorder_{nullptr};
};

}  // namespace online
