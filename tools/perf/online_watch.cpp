// A watcher in a room, for the end-to-end tests that play through real windows and browser tabs: it
// joins the room as a player whose side the creator then takes out of the game, follows the room's
// game like any player, and prints a line of JSON whenever what the test acts on changes: the screen,
// the side to move, who is a computer and who is alive, the missiles in the air, and the clicks a
// person of the side to move would make for a shot at the nearest enemy.
//   online_watch SERVER CODE [--seconds S]
// Stops when the connection is lost, when standard input closes, or after S seconds (600 unless told).
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/online/harness.h"
#include "model/globals.h"

namespace {

using namespace online_test;

std::string view(const online::Session& session) {
    std::string line = "{\"tick\":" + std::to_string(session.tick()) + ",\"side\":" + std::to_string(session.side()) +
                       ",\"mode\":" + std::to_string(timer_mode) + ",\"players\":" + std::to_string(num_players) +
                       ",\"cur_player\":" + std::to_string(cur_player);
    auto list = [&](const char* name, const bool* values) {
        line += std::string(",\"") + name + "\":[";
        for (int s = 0; s < NUM_SIDES; s++) line += std::string(s ? "," : "") + (values[s] ? "true" : "false");
        line += "]";
    };
    list("cpu", cpu_player);
    list("alive", alive);
    int flying = 0;
    for (const icbm& s : shot) flying += s.flag ? 1 : 0;
    line += ",\"flying\":" + std::to_string(flying) + ",\"clicks\":[";
    std::vector<std::pair<int, int>> clicks;
    if (timer_mode == MODE_PLAYING && !cpu_player[cur_player] && plan_turn(cur_player, &clicks)) {
        for (size_t i = 0; i < clicks.size(); i++)
            line += (i ? ",[" : "[") + std::to_string(clicks[i].first) + "," + std::to_string(clicks[i].second) + "]";
    }
    return line + "]}";
}

bool input_closed() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return false;
    char c;
    return read(STDIN_FILENO, &c, 1) <= 0;
}

}  // namespace

int main(int argc, char** argv) {
    online::Address address;
    online::RoomCode code;
    std::string why;
    long seconds = argc == 5 && std::string(argv[3]) == "--seconds" ? std::atol(argv[4]) : 600;
    if ((argc != 3 && argc != 5) || seconds <= 0 || !online::parse_address(argv[1], &address, &why) ||
        !online::parse_code(argv[2], &code)) {
        std::fprintf(stderr, "usage: online_watch ws://HOST:PORT CODE [--seconds S]\n");
        return 2;
    }
    work_in_empty_folder();
    Doorbell bell;
    Player watcher(&bell);
    watcher.join(address, code);
    std::string last;
    auto changed = [&] {
        if (input_closed() || watcher.session().lost()) return true;
        if (!watcher.session().playing()) return false;
        std::string now = watcher.in([&] { return view(watcher.session()); });
        // The tick alone changes every frame: a line when anything else does.
        auto strip = [](const std::string& s) { return s.substr(s.find(",\"side\"")); };
        if (last.empty() || strip(now) != strip(last)) {
            std::printf("%s\n", now.c_str());
            std::fflush(stdout);
        }
        last = now;
        return false;
    };
    pump_until({&watcher}, bell, changed, std::chrono::seconds(seconds));
    if (watcher.session().lost()) std::fprintf(stderr, "online_watch: %s\n", watcher.session().reason().c_str());
    return watcher.session().lost() ? 1 : 0;
}
