// Invariants of the game state, checked after every tick of a tournament run with --check.
#pragma once

#include <cstdint>
#include <string>

#include "model/equates.h"

namespace sim {

// Remembers every unit as it was placed, so that a later tick can tell a unit that moved, changed
// type or owner, or a slot that was filled again.
class StateChecker {
public:
    // Forgets the previous game: call it at the start control, before the first placement tick.
    void new_game();
    // Checks the globals now. Empty when every invariant holds; otherwise what is broken, first found.
    std::string check();

private:
    struct Placed {
        bool seen = false;     // the slot has held a unit in this game
        bool gone = false;     // and has been emptied since
        uint8_t flag = EMPTY;  // as placed
        uint8_t side = 0;
        uint16_t x = 0;
        uint16_t y = 0;
    };

    std::string check_unit(int slot);
    std::string check_sides() const;
    static std::string check_shots();

    Placed placed_[NUM_UNITS];
};

}  // namespace sim
