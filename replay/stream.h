// The input stream: every message that can change the game, stamped with the number of ticks before it.
// The window procedure's one way in (feed, in app/) tells the thread's listener of each message it
// passes on; a Recorder is the listener that writes a game down from its Start press to its end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/input.h"
#include "platform/window.h"

namespace replay {

// A tick, a press, a release, a key, maps added or a side changing hands online. A paint only draws,
// and the rest go to the platform.
bool changes_state(uint32_t message);

// Told of every message on its way to the window procedure, before and after it is handled.
class Listener {
public:
    virtual ~Listener() = default;
    virtual void before(const plat::Message& msg) = 0;
    virtual void after(const plat::Message& msg) = 0;
};

// The listener of this thread's game; null for none.
void set_listener(Listener* listener);
Listener* listener();

// A recorded game: its state at the Start press, the inputs from there, and hashes to check it by.
struct Recording {
    std::vector<uint8_t> start;     // the snapshot taken as the Start press was handled
    std::string map;                // the map pair it is played on, and whether it is built in
    bool builtin = false;
    uint64_t map_hash = 0;
    uint8_t players = 0;            // sides in the game, and which of them the computer plays
    uint8_t computer = 0;           // bit k: side k
    uint32_t ticks = 0;             // ticks from the Start press to the end
    std::vector<GameInput> inputs;  // each after `tick` ticks of the recording: the ticks themselves
                                    // are not listed, the inputs fall between them
    std::vector<uint64_t> checkpoints;  // the state hash at tick 0, 10, 20, ... up to ticks
    uint64_t final_hash = 0;        // after the last input
    bool finished = false;          // the game reached the title screen again; false: cut short
};

// Ticks between two recorded hashes.
constexpr uint32_t kCheckpointTicks = 10;

// Records every game that is started from the title screen, and hands it over when it ends: back at
// the title screen, or cut short when the window closes.
class Recorder : public Listener {
public:
    using Done = std::function<void(Recording&&)>;
    explicit Recorder(Done done) : done_(std::move(done)) {}
    void before(const plat::Message& msg) override;
    void after(const plat::Message& msg) override;
    // Hands over the game being recorded, if any, as cut short.
    void finish();
    // Records from the game as it is now, as if its Start press had just been handled: a game put in
    // place from a snapshot, such as an online room's journal.
    void begin();
    bool recording() const { return recording_; }
    // The game being recorded as a replay cut short now, its final hash the state's as it is: for a
    // look at a game still in play. Call it with that game entered, and only while recording().
    Recording so_far() const;

private:
    Done done_;
    bool recording_ = false;
    uint8_t mode_before_ = 0;
    Recording game_;
};

}  // namespace replay
