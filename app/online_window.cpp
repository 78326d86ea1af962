// Online play in the window: the room's frames drive the game, and the player's presses, releases
// and keys go to the server, which sends back those its game takes. The window's own clock is
// stopped; paints are the window's. A lost connection shows a line on the local title screen, and
// the window goes on as a game of its own.
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

#include "app/app.h"
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "online/session.h"

namespace {

void set_label(const online::Session& session) {
    std::string colour = sidename(static_cast<uint8_t>(session.side()));
    for (char& c : colour) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::snprintf(online_label, sizeof online_label, "%s %s", online::show_code(session.code()).c_str(),
                  colour.c_str());
    online_side = static_cast<uint8_t>(session.side());
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

// Back to a game of this window's own, on its title screen, with the reason on the title's line.
void go_local(const std::string& reason) {
    std::fprintf(stderr, "vantor: online play ended: %s\n", reason.c_str());
    online_label[0] = 0;
    online_side = NO_SLOT;
    if (timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER) releasemap();
    introover = true;
    starttitle();
    std::snprintf(title_notice, sizeof title_notice, "CONNECTION LOST");
    titleinfo();
    inittimer();
}

}  // namespace

int playonline(const char* server, const char* code) {
    online::Address address;
    std::string why;
    online::RoomCode room;
    if (!online::parse_address(server, &address, &why) || (code && !online::parse_code(code, &room))) {
        std::fprintf(stderr, "vantor: %s\n", code && why.empty() ? "not a room code (XXXX-XXXX)" : why.c_str());
        return 2;
    }
    if (!openwindow(nullptr, 1)) return 1;
    plat::Window* window = hwnd;
    // The room's frames are the only clock.
    plat::kill_timer(window, TIMER_ID);
    plat::set_window_caption(window, ("Vantor - connecting to " + address.host + ":" + address.port).c_str());
    auto deliver = [window](uint32_t message, uint32_t wParam, int32_t lParam) { feed(window, message, wParam, lParam); };
    auto wake = [window] { plat::wake(window); };
    std::unique_ptr<online::Session> session =
        code ? online::Session::join(address, room, online::Token{}, deliver, wake)
             : online::Session::create(address, deliver, wake);

    plat::Message msg;
    while (plat::get_message(&msg)) {
        if (!session) {
            plat::dispatch_message(&msg);
            continue;
        }
        switch (msg.message) {
            case plat::WM_WAKE: {
                bool was_welcomed = session->welcomed();
                uint32_t snapshots = session->snapshots();
                session->pump();
                if (session->welcomed() && !was_welcomed) set_label(*session);
                if (session->lost()) {
                    go_local(session->reason());
                    session.reset();
                } else if (session->snapshots() != snapshots) {
                    // The room's picture came without this window's room and colour: add them.
                    show_online();
                }
                break;
            }
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
