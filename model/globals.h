// Every global of the game, declared here from the one list in globals_list.h and defined in
// globals.cpp. Adding a global is one line of that list.
// Each thread has a set of its own, so games on different threads never see each other's state;
// replay/game.h moves several games through one thread's set in turn.
#pragma once

#include <cstdint>

#include "model/structures.h"
#include "platform/gdi.h"
#include "platform/window.h"

#define VANTOR_GLOBAL(type, name, dims, start, key, limit) extern thread_local type name dims;
#include "model/globals_list.h"
#undef VANTOR_GLOBAL

// Puts every global back to its start value, for tests. Frees nothing: release surfaces first.
void reset_globals();
