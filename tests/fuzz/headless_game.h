// The headless game the replay and snapshot fuzz targets play in: opened once on the null backend,
// and put back to its opening state before every input, so that an input plays the same wherever it
// comes in a run.
#pragma once

#include <cstdint>

namespace fuzz {

// Opens the game on the first call, else puts it back to its state just after opening. It opens in an
// empty folder, so that it lists the built-in maps alone, and the working folder is then the caller's
// again (libFuzzer writes its findings there). Aborts when the game cannot be opened or its own
// snapshot does not restore.
void fresh_game();

// Hands a message to the game through the window procedure's way in.
void deliver(uint32_t message, uint32_t wParam, int32_t lParam);

}  // namespace fuzz
