// The window shell: the entry point and the window procedure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window.h"

namespace online {
class Session;
struct Address;
}  // namespace online

// Opens the window and runs the game until the window is closed. Returns the quit code, or 1
// when no window could be opened.
int WinMain();
int32_t WindowFunction(plat::Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam);
// The window procedure's one way in, and the window's registered procedure: every message from the
// window, the headless driver, a replay or the network passes here, and the thread's listener
// (replay/stream.h) sees each before and after the game handles it.
int32_t feed(plat::Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam);

// The front end's own keys, taken before the game sees them: M switches the sound on or off and C
// the colour-blind palette, each remembered in the settings; Ctrl+C copies the creator's invitation.
// Never fed, so never recorded nor sent online: the switches are no part of the game. True when the
// message was such a key.
bool frontkey(const plat::Message& msg);
// Tells the browser's page how a switch ("sound" or "palette") stands; nothing on the desktop.
extern "C" void tell_page_switch(const char* name, int on);

// The start-up part of WinMain: registers the class, opens and shows the window, starts the game.
// False when there is no window; the headless driver calls it and then feeds the messages itself.
bool openwindow();

// Plays a replay file in the window at its own pace; a click on the map switches four-times speed on
// and off, Abort closes it. 0 when it played, 1 with a line on stderr when it cannot be played.
int playreplay(const char* path);

// Plays online in the window: creates a room on the server ("ws://HOST:PORT"), or joins the room of
// that code, with the token in hex when given, else with the one kept for that room (none in the
// browser build, whose page keeps them); a room it creates open is listed by the server's GET /rooms.
// 0 when the window is closed; 2 with a line on stderr for a bad address or code.
int playonline(const char* server, const char* code, const char* token = nullptr, bool watch = false,
               bool open = false);

// What the creator hands on: a link to the page when the server serves it (http://HOST:PORT/#join=CODE),
// else the command that joins (vantor --join CODE@HOST:PORT).
std::string invitation(const online::Session& session, const online::Address& server);
// The window's game is in the room: the title's line and the caption name the room and the colour (or
// WATCHING, and why when it came to play); the desktop's creator gets the invitation on standard
// output, in the caption on the title screen, and on the clipboard with Ctrl+C (frontkey).
void onlinewelcome(const online::Session& session, const online::Address& server, bool asked_to_play);

// For a front end that runs a session in a loop of its own (vantor-sim): what the window shows of the
// room, its code and the colour played, in the caption and on the title. Once welcomed, and again after
// each snapshot, which brings the room's picture without them.
void show_room(const online::Session& session);
