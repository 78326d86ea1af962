// The one sound channel: starting a sound cuts off the one playing; playback is asynchronous.
#pragma once

#include <cstddef>

namespace plat {

// Opens the audio device. Without one the game stays silent after one line on stderr.
void sound_open();
// Starts a RIFF WAVE held in memory; name is for the record only.
void sound_play(const char* name, const unsigned char* wav, size_t size);
void sound_close();
// Called by the event loop before it sleeps. An open device that has played nothing for a while
// is closed, so that its thread stops waking the machine; the next sound opens it again. Returns
// the milliseconds until it wants to be called again, or -1 when it has nothing to wait for.
int sound_idle();

// The player's sound switch, on at start: while it is off nothing is heard. The front end turns it;
// the game's own sounds are started all the same (the headless log keeps them), so a game with the
// sound off is the same game.
void sound_switch(bool on);
bool sound_is_on();

// Called by the SDL window whenever it has shown a frame. In the browser, opening the device (an
// audio context) takes a tenth of a second: a sound asked for before the game's first frame waits for it.
void sound_frame_shown();

}  // namespace plat
