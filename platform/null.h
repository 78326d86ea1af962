// The headless backend's extras: the sounds started, for the driver and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct Window;

// The caption the game last gave the off-screen window.
std::string window_caption(const Window* hwnd);
// The period the game last set the off-screen window's timer to; 0 with no timer.
uint32_t timer_period(const Window* hwnd);

// Called with the name of every sound that starts.
using SoundObserver = void (*)(const char* name);
void set_sound_observer(SoundObserver observer);

// Names of the sounds started since the last clear.
const std::vector<std::string>& sound_log();
void clear_sound_log();

}  // namespace plat
