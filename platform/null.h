// The headless backend's extras: the sounds started, for the driver and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct Window;

// Whether windows the running game (platform/context.h) opens from now on have a picture (they do
// unless told otherwise). A window without one draws nothing: a server's rooms, which no one looks at,
// save its memory.
void set_window_pictures(bool pictures);

// The caption the game last gave the off-screen window.
std::string window_caption(const Window* hwnd);
// What the game last put on the clipboard, on this thread.
std::string clipboard();
// The period the game last set the off-screen window's timer to; 0 with no timer.
uint32_t timer_period(const Window* hwnd);

// Called with the name of every sound that starts.
using SoundObserver = void (*)(const char* name);
void set_sound_observer(SoundObserver observer);

// Names of the sounds started since the last clear.
const std::vector<std::string>& sound_log();
void clear_sound_log();

}  // namespace plat
