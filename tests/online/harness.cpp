// The loopback harness: see harness.h.
#include "harness.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/app.h"
#include "model/bearing.h"
#include "model/globals.h"
#include "model/layout.h"
#include "platform/null.h"
#include "replay/state.h"

namespace online_test {

namespace {

void feed_game(uint32_t message, uint32_t wParam, int32_t lParam) {
    feed(hwnd, message, wParam, lParam);
    plat::clear_sound_log();
}

}  // namespace

online::GameHooks hooks() {
    online::GameHooks h;
    h.open = [] { return openwindow(); };
    h.deliver = feed_game;
    return h;
}

void work_in_empty_folder() {
    static std::string folder;
    if (!folder.empty()) return;
    char pattern[] = "/tmp/vantor-online-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    folder = pattern;
    std::filesystem::current_path(folder);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
}

LocalServer::LocalServer(online::ServerOptions options) {
    work_in_empty_folder();
    options.bind = "127.0.0.1";
    options.port = 0;
    options.log = [this](const std::string& line) {
        std::lock_guard<std::mutex> hold(lock_);
        lines_.push_back(line);
    };
    // Two lanes, as on a machine of two cores: a player's path takes it to its room's.
    if (options.lanes == 1) options.lanes = 2;
    online::GameHooks h = hooks();
    // Its rooms' pictures are kept as vantor-server keeps them.
    h.thread = [] {
        plat::set_window_pictures(false);
        plat::set_layered_pictures(true);
    };
    server_ = std::make_unique<online::Server>(options, h);
    std::string why;
    if (!server_->listen(&why)) throw std::runtime_error(why);
    thread_ = std::thread([this] { server_->run(); });
}

LocalServer::~LocalServer() {
    server_->stop();
    thread_.join();
}

online::Address LocalServer::address() const {
    return online::Address{"127.0.0.1", std::to_string(server_->port()), "/"};
}

std::vector<std::string> LocalServer::log() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
}

bool LocalServer::logged(const std::string& part) const {
    // The server may log an event a moment after a client sees it.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        for (const std::string& line : log())
            if (line.find(part) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

Player::Player(Doorbell* bell) : bell_(bell) {
    work_in_empty_folder();
    replay::Game::Scope entered(game_);
    if (!openwindow()) std::abort();
    window_ = hwnd;
}

Player::~Player() {
    session_.reset();
    replay::Game::Scope entered(game_);
    plat::destroy_window(window_);
    hwnd = nullptr;
}

void Player::create(const online::Address& server) {
    session_ = online::Session::create(server, deliver(), [bell = bell_] {
        if (bell) bell->ring();
    });
}

void Player::join(const online::Address& server, online::RoomCode code, const online::Token& token) {
    session_ = online::Session::join(server, code, token, deliver(), [bell = bell_] {
        if (bell) bell->ring();
    });
}

void Player::create(online::Loopback& loop, const std::string& address) {
    session_ = online::Session::over(loop.open(online::encode(online::ClientCreate{}), address), deliver());
}

void Player::rejoin_over(online::Loopback& loop, const std::string& address) {
    session_->rejoin_by(
        [&loop, address](online::RoomCode, std::vector<uint8_t> hello) { return loop.open(hello, address); },
        [&loop] { return loop.now(); });
}

void Player::join(online::Loopback& loop, online::RoomCode code, const online::Token& token,
                  const std::string& address) {
    session_ = online::Session::over(
        loop.open(online::encode(online::ClientJoin{online::kProtocolVersion, code, token}), address), deliver());
}

void Player::watch(online::Loopback& loop, online::RoomCode code) {
    session_ = online::Session::over(loop.open(online::encode(online::ClientWatch{online::kProtocolVersion, code})),
                                     deliver());
}

void Player::pump() {
    if (!session_) return;
    replay::Game::Scope entered(game_);
    session_->pump();
}

replay::Deliver Player::deliver() {
    return [this](uint32_t message, uint32_t wParam, int32_t lParam) {
        releases_seen_ += message == plat::WM_LBUTTONUP;
        feed_game(message, wParam, lParam);
    };
}

void Player::click(int x, int y) {
    session_->send_input(plat::WM_LBUTTONDOWN, 1, plat::make_lparam(x, y));
    session_->send_input(plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
    clicks_sent_++;
}

uint64_t Player::hash() { return in(replay::state_hash); }

bool pump_until(const std::vector<Player*>& players, Doorbell& bell, const std::function<bool()>& done,
                std::chrono::milliseconds limit, const std::function<void()>& script) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        for (Player* p : players) p->pump();
        if (done()) return true;
        if (script) script();
        bell.wait(std::chrono::milliseconds(5));
    }
    return false;
}

bool run_until(online::Loopback& loop, const std::vector<Player*>& players, const std::function<bool()>& done,
               online::Millis limit, const std::function<void()>& script) {
    online::Millis step = loop.lobby().options().tick_ms, end = loop.now() + limit;
    while (loop.now() < end) {
        for (Player* p : players) p->pump();
        if (done()) return true;
        if (script) script();
        loop.run_for(step);
    }
    return false;
}

namespace {

// A point of the unit's icon where a click selects it: one no lower slot of its side covers.
bool click_point(int slot, int* px, int* py) {
    const weapon& w = item[slot];
    for (int y = w.y + 1; y < w.y + ICON_SIZE; y++) {
        for (int x = w.x + 1; x < w.x + ICON_SIZE; x++) {
            int lowest = -1;
            for (int i = 0; i < NUM_UNITS && lowest < 0; i++) {
                const weapon& u = item[i];
                if (u.flag != EMPTY && u.side == w.side && x > u.x && y > u.y && x < u.x + ICON_SIZE &&
                    y < u.y + ICON_SIZE)
                    lowest = i;
            }
            if (lowest == slot) {
                *px = x, *py = y;
                return true;
            }
        }
    }
    return false;
}

struct Shot {
    bool select = false;
    int x = 0, y = 0;            // where to click the launcher
    int dial_x = 0, dial_y = 0;  // and the dial, and the power bar
    int bar_y = 0;
};

// The shot the side would play now, if it is its turn and it has a launcher it can click.
bool plan_shot(int side, Shot* shot) {
    int launcher = -1;
    if (loadedlauncher(item[cur_unit], static_cast<uint8_t>(side))) launcher = cur_unit;
    for (int i = 0; i < NUM_UNITS && launcher < 0; i++)
        if (loadedlauncher(item[i], static_cast<uint8_t>(side)) && click_point(i, &shot->x, &shot->y)) launcher = i;
    if (launcher < 0) return false;
    shot->select = launcher != cur_unit;
    const weapon& from = item[launcher];
    double best = 1e9;
    int dx = 0, dy = 0;
    for (const weapon& w : item) {
        if (w.flag == EMPTY || w.side == GREY || w.side == side) continue;
        double d = std::hypot(w.x - from.x, w.y - from.y);
        if (d < best) best = d, dx = w.x - from.x, dy = w.y - from.y;
    }
    double angle = compassbearing<double>(dx, dy) * PI / 180;
    shot->dial_x = 390 + static_cast<int>(std::lround(std::sin(angle) * 22));
    shot->dial_y = 430 - static_cast<int>(std::lround(std::cos(angle) * 22));
    int wanted = std::min(MAX_POWER, static_cast<int>(best) / RANGE_PER_POWER);
    shot->bar_y = 455 - wanted / 2;
    return true;
}

}  // namespace

bool plan_turn(int side, std::vector<std::pair<int, int>>* clicks) {
    Shot shot;
    if (!plan_shot(side, &shot)) return false;
    clicks->clear();
    if (shot.select) clicks->emplace_back(shot.x, shot.y);
    clicks->emplace_back(shot.dial_x, shot.dial_y);
    clicks->emplace_back(540, shot.bar_y);
    clicks->emplace_back(575, 430);
    return true;
}

void Person::act(Player& player) {
    if (!player.connected()) return;
    online::Session& s = player.session();
    if (!s.playing() || s.lost()) return;
    int side = s.side();
    Shot shot;
    bool mine = player.in([&] {
        return timer_mode == MODE_PLAYING && cur_player == side && !cpu_player[side] && plan_shot(side, &shot);
    });
    auto now = std::chrono::steady_clock::now();
    if (!mine) {
        if (fired_) turns_++;
        fired_ = waiting_ = false;
        return;
    }
    if (!waiting_) waiting_ = true, turn_came_ = now;
    if (now - turn_came_ < std::chrono::milliseconds(60)) return;
    // The clicks take a round trip to show; they are sent again only when the turn has not moved on
    // for a while, in ticks and in time.
    if (fired_ && (s.tick() - fired_at_ < 30 || now - fired_time_ < std::chrono::milliseconds(500))) return;
    if (shot.select) player.click(shot.x, shot.y);
    player.click(shot.dial_x, shot.dial_y);
    player.click(540, shot.bar_y);
    player.click(575, 430);
    fired_ = true;
    fired_at_ = s.tick();
    fired_time_ = now;
}

}  // namespace online_test
