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
// clang-format on
#endif

namespace {

// Wakes the loop while a dropped connection is tried again: the tries and the seconds shown.
constexpr uint32_t kRejoinTimer = 2;
constexpr uint32_t kRejoinTick = 250;
// The page asks for a try at once when it comes back to the foreground.
bool rejoin_asked = false;

std::string colour_of(const online::Session& session) {
    std::string colour = sidename(static_cast<uint8_t>(session.side()));
    for (char& c : colour) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return colour;
}

void set_label(const online::Session& session) {
    std::snprintf(online_label, sizeof online_label, "%s %s", online::show_code(session.code()).c_str(),
                  colour_of(session).c_str());
    online_side = static_cast<uint8_t>(session.side());
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

// Once welcomed: the room and the token are kept for a return.
void remember_room(const online::Session& session, const online::Address& server) {
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
    online_label[0] = 0;
    online_side = NO_SLOT;
    if (timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER) releasemap();
    introover = true;
    starttitle();
    std::snprintf(title_notice, sizeof title_notice, "CONNECTION LOST");
    titleinfo();
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
bool take_news(plat::Window* window, online::Session& session, const online::Address& address, bool* was_mine) {
    bool was_welcomed = session.welcomed(), was_rejoining = session.rejoining();
    uint32_t snapshots = session.snapshots();
    if (std::exchange(rejoin_asked, false)) session.rejoin_now();
    session.pump();
    if (session.welcomed() && !was_welcomed) {
        set_label(session);
        remember_room(session, address);
    }
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

#ifdef __EMSCRIPTEN__
// The page calls it when the tab comes back to the foreground: phones close sockets in the background.
extern "C" EMSCRIPTEN_KEEPALIVE void vantor_rejoin_now() {
    rejoin_asked = true;
    plat::wake(hwnd);
}
#endif

int playonline(const char* server, const char* code, const char* token) {
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
        code ? online::Session::join(address, room, token_for(token, room, address), deliver, wake)
             : online::Session::create(address, deliver, wake);

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
                if (msg.wParam != kRejoinTimer) break;
                [[fallthrough]];
            case plat::WM_WAKE:
                if (!take_news(window, *session, address, &was_mine)) session.reset();
                break;
            case plat::WM_LBUTTONDOWN:
            case plat::WM_LBUTTONUP:
                if (session->playing()) session->send_input(msg.message, msg.wParam, msg.lParam);
                break;
            case plat::WM_PAINT:
            case plat::WM_DESTROY:
                plat::dispatch_message(&msg);
                break;
            default:
                break;  // the window's clock is stopped, and fast play is no matter online
        }
    }
    return static_cast<int>(msg.wParam);
}
