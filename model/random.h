// The game's one source of randomness: a 16-bit linear congruential generator.
#pragma once

#include <cstdint>

// Seeds the generator from the calendar time.
void sc_randomize();
// Advances the generator and returns 0..value, both included.
uint16_t sc_rnd(uint16_t value);
// -value..+value, both included. The game itself never calls it.
int16_t sc_scatter(int16_t value);
