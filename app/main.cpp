// The game's entry point on the desktop: the player's settings live in the usual configuration folder,
// and every game played in the window is kept as a replay in the usual data folder.
//   vantor                 plays
//   vantor --replay FILE   plays a replay back
//   vantor --online ws://HOST:PORT     creates a room on a server and plays online
//   vantor --online ws://HOST:PORT --open    a room the server lists for anyone to join
//   vantor --rooms HOST:PORT           prints the server's open rooms
//   vantor --join CODE@HOST:PORT       joins a room, taking back the side played there before
//   vantor --join CODE@HOST:PORT --token HEX    with that side's token (the browser's page keeps them)
//   vantor --watch CODE@HOST:PORT      watches a room's game
// The browser build takes the same arguments, from the page.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app.h"
#include "init/init.h"
#include "online/rooms.h"
#include "online/transport.h"
#include "platform/files.h"
#include "replay/file.h"
#include "replay/stream.h"

namespace {

// The replays kept in the folder: the newest fifty.
constexpr size_t kReplaysKept = 50;

void keep(replay::Recording&& game) {
    std::string why;
    if (replay::keep_replay(replay::replay_folder(), game, kReplaysKept, &why).empty())
        std::fprintf(stderr, "vantor: the replay of this game is not kept: %s\n", why.c_str());
}

#ifndef __EMSCRIPTEN__
// The server's open rooms, a line each, on standard output.
int listrooms(const char* server) {
    online::Address address;
    std::string why, body;
    if (!online::parse_address(server, &address, &why)) {
        std::fprintf(stderr, "vantor: %s\n", why.c_str());
        return 2;
    }
    if (!online::http_get(address, "/rooms", &body, &why)) {
        std::fprintf(stderr, "vantor: %s\n", why.c_str());
        return 1;
    }
    std::optional<std::vector<online::OpenRoom>> rooms = online::parse_rooms_json(body);
    if (!rooms) {
        std::fprintf(stderr, "vantor: %s sent no list of rooms\n", server);
        return 1;
    }
    std::fputs(online::rooms_table(*rooms).c_str(), stdout);
    if (!rooms->empty())
        std::printf("join one with: vantor --join %s@%s\n", online::show_code(rooms->front().code).c_str(),
                    online::show_address(address).c_str());
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    settingsfile(plat::config_path("vantor/settings"));
    if (argc == 3 && std::strcmp(argv[1], "--replay") == 0) return playreplay(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--online") == 0) return playonline(argv[2], nullptr);
    if (argc == 4 && std::strcmp(argv[1], "--online") == 0 && std::strcmp(argv[3], "--open") == 0)
        return playonline(argv[2], nullptr, nullptr, false, true);
#ifndef __EMSCRIPTEN__
    if (argc == 3 && std::strcmp(argv[1], "--rooms") == 0) return listrooms(argv[2]);
#endif
    bool token = argc == 5 && std::strcmp(argv[3], "--token") == 0;
    bool watch = argc == 3 && std::strcmp(argv[1], "--watch") == 0;
    if (((argc == 3 || token) && std::strcmp(argv[1], "--join") == 0) || watch) {
        std::string where = argv[2];
        size_t at = where.find('@');
        if (at != std::string::npos)
            return playonline(where.substr(at + 1).c_str(), where.substr(0, at).c_str(), token ? argv[4] : nullptr,
                              watch);
    }
    if (argc > 1) {
        std::fprintf(stderr,
                     "usage: vantor [--replay FILE | --online ws://HOST:PORT [--open] | --join CODE@HOST:PORT |\n"
                     "              --watch CODE@HOST:PORT | --rooms HOST:PORT]\n");
        return 2;
    }
    replay::Recorder recorder(keep);
    replay::set_listener(&recorder);
    int code = WinMain();
    replay::set_listener(nullptr);
    return code;
}
