// The random number routines over the global seed.
#include "model/random.h"

#include <ctime>

#include "model/globals.h"

void sc_randomize() {
    seed = static_cast<uint16_t>(static_cast<uint64_t>(std::time(nullptr)) & 0xFFFFu);
}

uint16_t sc_rnd(uint16_t value) {
    seed = static_cast<uint16_t>(seed * 9377u + 9439u);
    if (value == 0) return 0;
    // value + 1 in 32 bits, so that 65535 gives the seed itself.
    return static_cast<uint16_t>(seed % (static_cast<uint32_t>(value) + 1u));
}

int16_t sc_scatter(int16_t value) {
    uint16_t r = sc_rnd(static_cast<uint16_t>(2 * value));
    return static_cast<int16_t>(r - value);
}
