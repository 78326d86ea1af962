// Online play in the window: the room's frames drive the game, and the player's presses, releases
// and keys go to the server, which sends back those its game takes. The window's own clock is
// stopped; paints are the window's. A lost connection shows a line on the local title screen, and
// the window goes on as a game of its own. The token of every room joined is kept, so that joining it
// again takes the same side: in the rooms file on the desktop, by the page in the browser build.
// A dropped connection is tried again by the session for a minute; meanwhile the game stands still and
// the caption (and the page's bar) says RECONNECTING with the seconds left.
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "app/app.h"
#include "app/palette.h"
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "online/seats.h"
#include "online/session.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// Tells the page (web/index.html) how online play goes: "welcome" with the room, the colour played
// here and the token that takes it back, or "lost" with the reason. The body is JavaScript.
// clang-format off
EM_JS(void, tell_page, (const char* state, const char* room, const char* colour, const char* token, const char* reason), {
    if (Module.onlineState)
        Module.onlineState({state: UTF8ToString(state), room: UTF8ToString(room), colour: UTF8ToString(colour),
                            token: UTF8ToString(token), reason: UTF8ToString(reason)});
});
// Who is in the room: the players' colours, and the count of watchers.
EM_JS(void, tell_page_roster, (const char* players, int watchers), {
    if (Module.onlineState) Module.onlineState({state: "roster", players: UTF8ToString(players), watchers: watchers});
});
// clang-format on
#endif

namespace {

// Wakes the loop while a dropped connection is tried again: the tries and the seconds shown.
constexpr uint32_t kRejoinTimer = 2;
constexpr uint32_t kRejoinTick = 250;
// The page asks for a try at once when it comes back to the foreground.
bool rejoin_asked = false;

std::string colour_of(const online::Session& session) {
    if (session.watching()) return "WATCHING";
    std::string colour = sidename(static_cast<uint8_t>(session.side()));
    for (char& c : colour) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return colour;
}

// Tells the page who is in the room: the players' colours, and the count of watchers.
void tell_roster(const online::Session& session) {
#ifdef __EMSCRIPTEN__
    std::string players;
    for (int side = 0; side < online::kMaxPlayers; side++)
        if (session.roster().players >> side & 1)
            players += std::string(players.empty() ? "" : ", ") + sidename(static_cast<uint8_t>(side));
    tell_page_roster(players.c_str(), session.roster().watchers);
#else
    (void)session;
#endif
}

// The token that takes back a side in that room, if this player has been in it: given on the command
// line (the page passes the one it keeps), else from the rooms file.
online::Token token_for(const char* given, online::RoomCode code, const online::Address& server) {
    online::Token token{};
    if (given) {
        if (!online::parse_token(given, &token)) std::fprintf(stderr, "vantor: not a token, joining as a new player\n");
        return token;
    }
#ifdef __EMSCRIPTEN__
    (void)code, (void)server;
#else
    std::string complaint;
    std::vector<online::KeptSeat> seats = online::load_seats(online::seats_path(), &complaint);
    if (!complaint.empty()) std::fprintf(stderr, "vantor: %s\n", complaint.c_str());
    token = online::kept_token(seats, code, online::show_address(server));
#endif
    return token;
}

// Once welcomed: the room and the token are kept for a return; a watcher has none.
void remember_room(const online::Session& session, const online::Address& server) {
    if (session.watching()) {
#ifdef __EMSCRIPTEN__
        tell_page("welcome", online::show_code(session.code()).c_str(), colour_of(session).c_str(), "", "");
#endif
        return;
    }
#ifdef __EMSCRIPTEN__
    (void)server;
    tell_page("welcome", online::show_code(session.code()).c_str(), colour_of(session).c_str(),
              online::show_token(session.token()).c_str(), "");
#else
    std::string path = online::seats_path(), why;
    if (path.empty()) why = "neither XDG_DATA_HOME nor HOME is set";
    if (path.empty() || !online::save_seat(path, {session.code(), online::show_address(server), session.token()}, &why))
        std::fprintf(stderr, "vantor: this room is not kept for a return: %s\n", why.c_str());
#endif
}

// The title's line and the caption, with the room and the colour.
void show_online() {
    if (timer_mode == MODE_TITLE) {
        titleinfo();
        showcaption(nullptr);
    } else if (timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER) {
        showturn();
    } else if (timer_mode == MODE_PLACING) {
        showcaption("placing units");
    }
}

// Whether the side played here is to fire: the caption says "your turn", the page shows a banner.
bool my_turn() { return timer_mode == MODE_PLAYING && online_side == cur_player && !cpu_player[cur_player]; }

// Tells the page when this side's turn comes, each time it comes.
void tell_turn(const online::Session& session, bool* was_mine) {
    bool mine = my_turn();
#ifdef __EMSCRIPTEN__
    if (mine && !*was_mine)
        tell_page("turn", online::show_code(session.code()).c_str(), colour_of(session).c_str(), "", "");
#else
    (void)session;
#endif
    *was_mine = mine;
}

// Back to a game of this window's own, on its title screen, with the reason on the title's line.
void go_local(const std::string& reason) {
    std::fprintf(stderr, "vantor: online play ended: %s\n", reason.c_str());
#ifdef __EMSCRIPTEN__
    tell_page("lost", "", "", "", reason.c_str());
#endif
    online_label[0] = online_note[0] = invite_link[0] = 0;
    online_side = NO_SLOT;
    if (timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER) releasemap();
    introover = true;
    starttitle();
    titlenews("CONNECTION LOST");
    inittimer();
}

// While the session tries to get its connection back: the caption says so, with the seconds left.
void show_rejoining(plat::Window* window, const online::Session& session) {
    int left = session.seconds_left();
    std::string caption = "Vantor - RECONNECTING, " + std::to_string(left) + " s";
    plat::set_window_caption(window, caption.c_str());
#ifdef __EMSCRIPTEN__
    tell_page("reconnecting", online::show_code(session.code()).c_str(), colour_of(session).c_str(), "",
              std::to_string(left).c_str());
#endif
}

// What the connection brought, played into the game; false once it is gone for good.
bool take_news(plat::Window* window, online::Session& session, const online::Address& address, bool asked_to_play,
               bool* was_mine) {
    bool was_welcomed = session.welcomed(), was_rejoining = session.rejoining();
    uint32_t snapshots = session.snapshots(), rosters = session.rosters();
    if (std::exchange(rejoin_asked, false)) session.rejoin_now();
    session.pump();
    if (session.welcomed() && !was_welcomed) {
        onlinewelcome(session, address, asked_to_play);
        remember_room(session, address);
    }
    if (session.rosters() != rosters) tell_roster(session);
    if (session.lost()) {
        plat::kill_timer(window, kRejoinTimer);
        go_local(session.reason());
        return false;
    }
    if (session.rejoining()) {
        if (!was_rejoining) {
            std::fprintf(stderr, "vantor: the connection dropped, trying again: %s\n", session.reason().c_str());
            plat::set_timer(window, kRejoinTimer, kRejoinTick);
        }
        show_rejoining(window, session);
        return true;
    }
    if (was_rejoining) {
        plat::kill_timer(window, kRejoinTimer);
#ifdef __EMSCRIPTEN__
        remember_room(session, address);  // the page's bar shows the room again
#endif
    }
    // The room's picture came without this window's room and colour: add them.
    if (session.snapshots() != snapshots) show_online();
    tell_turn(session, was_mine);
    return true;
}

}  // namespace

std::string invitation(const online::Session& session, const online::Address& server) {
    std::string code = online::show_code(session.code());
    if (session.site()) return "http://" + online::show_address(server) + "/#join=" + code;
    return "vantor --join " + code + "@" + online::show_address(server);
}

namespace {

// The room's code and the colour played (or WATCHING) for the title's line and the caption.
void set_label(const online::Session& session, bool asked_to_play) {
    std::snprintf(online_label, sizeof online_label, "%s %s", online::show_code(session.code()).c_str(),
                  colour_of(session).c_str());
    online_side = session.watching() ? NO_SLOT : static_cast<uint8_t>(session.side());
    std::snprintf(online_note, sizeof online_note, "%s",
                  session.watching() && asked_to_play ? "the four seats are taken" : "");
}

}  // namespace

void onlinewelcome(const online::Session& session, const online::Address& server, bool asked_to_play) {
    set_label(session, asked_to_play);
    invite_link[0] = 0;
#ifndef __EMSCRIPTEN__
    // The page shows its own link: the desktop's creator is told on standard output and in the caption.
    if (session.creator()) {
        std::string link = invitation(session, server);
        std::printf("Room %s: %s\n", online::show_code(session.code()).c_str(), link.c_str());
        std::fflush(stdout);
        std::snprintf(invite_link, sizeof invite_link, "%s", link.c_str());
    }
#else
    (void)server;
#endif
    show_online();
}

#ifdef __EMSCRIPTEN__
// The page calls it when the tab comes back to the foreground: phones close sockets in the background.
extern "C" EMSCRIPTEN_KEEPALIVE void vantor_rejoin_now() {
    rejoin_asked = true;
    plat::wake(hwnd);
}
#endif

int playonline(const char* server, const char* code, const char* token, bool watch, bool open) {
    online::Address address;
    std::string why;
    online::RoomCode room;
    if (!online::parse_address(server, &address, &why) || (code && !online::parse_code(code, &room))) {
        std::fprintf(stderr, "vantor: %s\n", code && why.empty() ? "not a room code (XXXX-XXXX)" : why.c_str());
        return 2;
    }
    if (!openwindow()) return 1;
    plat::Window* window = hwnd;
    // The room's frames are the only clock.
    plat::kill_timer(window, TIMER_ID);
    plat::set_window_caption(window, ("Vantor - connecting to " + address.host + ":" + address.port).c_str());
    auto deliver = [window](uint32_t message, uint32_t wParam, int32_t lParam) { feed(window, message, wParam, lParam); };
    auto wake = [window] { plat::wake(window); };
    std::unique_ptr<online::Session> session =
        watch  ? online::Session::watch(address, room, deliver, wake)
        : code ? online::Session::join(address, room, token_for(token, room, address), deliver, wake)
               : online::Session::create(address, deliver, wake, open);

    plat::Message msg;
    bool was_mine = false;
    while (plat::get_message(&msg)) {
        if (frontkey(msg)) continue;
        if (!session) {
            plat::dispatch_message(&msg);
            continue;
        }
        switch (msg.message) {
            case plat::WM_TIMER:
                // Fast play set the window's clock going again: the room's frames stay the only clock.
                if (msg.wParam == TIMER_ID) plat::kill_timer(window, TIMER_ID);
                if (msg.wParam != kRejoinTimer) break;
                [[fallthrough]];
            case plat::WM_WAKE:
                if (!take_news(window, *session, address, code != nullptr && !watch, &was_mine)) session.reset();
                break;
            case plat::WM_LBUTTONDOWN:
            case plat::WM_LBUTTONUP:
                if (session->playing() && !session->watching())
                    session->send_input(msg.message, msg.wParam, msg.lParam);
                break;
            case plat::WM_KEYDOWN:
                // Fast play is the room's: the leader's key goes to the room, whose frame brings it back.
                if (online::fast_key(msg.wParam) && session->playing() && !session->watching())
                    session->send_input(msg.message, msg.wParam, msg.lParam);
                break;
            case plat::WM_PAINT:
            case plat::WM_DESTROY:
                plat::dispatch_message(&msg);
                break;
            default: break;
        }
    }
    return static_cast<int>(msg.wParam);
}

void show_room(const online::Session& session) {
    set_label(session, false);
    show_online();
}
