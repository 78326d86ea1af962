// A load test of vantor-server on the loopback: many rooms of four light clients at once, and a few
// rooms of full headless players whose hashes the server checks.
//   online_load --server PATH [--rooms R] [--seconds S] [--tick-ms MS] [--full-rooms N] [--threads T]
//               [--server-threads N] [--measured M] [--nice N] [--processes K [--cluster-tool PATH]]
// The server runs as a child process on a free port; with --processes, K of them run as a cluster
// behind HAProxy on a Redis (tools/server/cluster), and a Join moved to another process follows. A
// light client is a WebSocket and no game: the creator of each of M rooms (250, or every room if fewer)
// reads its frames and notes when each arrives; every other client only keeps its socket drained,
// once its room has started. Each room's creator hands all four sides to the computer on the title
// screen and starts, and starts again whenever the title comes back, so that every room is in play.
// Measured: how late frames arrive against their room's clock, the server's memory before any room,
// with every room on its title screen and with every room in play, and its CPU over the run (the
// servers' together in a cluster). Fails on a desync, a refused or lost connection, or a room that does
// not start.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/globals.h"
#include "online/protocol.h"
#include "online/transport.h"
#include "platform/window.h"
#include "tests/online/harness.h"

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string server;
    int rooms = 1000;
    int seconds = 60;
    int tick_ms = 100;
    int full_rooms = 8;
    int threads = 2;
    int server_threads = 0;  // 0: the server's default
    int measured = 250;      // rooms whose creator notes every frame's arrival
    int nice = 10;           // the generator's own niceness; the server keeps its parent's
    int processes = 0;       // a cluster of this many behind HAProxy; 0: one server
    std::string cluster_tool = "tools/server/cluster";
};

// The title screen's player boxes and Start, as the creator clicks them: every side the computer's.
constexpr int kBoxY = 340, kStartX = 377, kStartY = 342;
int box_x(int side) { return 160 + 30 * side; }
// Rooms being set up at once: the server opens a room's game as it is created.
constexpr int kSettingUp = 64;

// The server as a child process, its standard error read on a thread of its own; or, with --processes
// K, a cluster of K servers behind HAProxy, on a Redis, started by tools/server/cluster, whose servers'
// logs are read at the end.
class Child {
public:
    bool start(const Options& o, std::string* why) {
        int pipe_ends[2];
        if (pipe(pipe_ends) != 0) return *why = "no pipe", false;
        std::string rooms = std::to_string(o.rooms + o.full_rooms + 16);
        std::string conns = std::to_string(4 * (o.rooms + o.full_rooms) + 64);
        std::string tick = std::to_string(o.tick_ms);
        // Light clients send nothing: they are not closed as idle within the run.
        std::vector<std::string> flags = {"--tick-ms",         tick,  "--max-rooms",    rooms,
                                          "--max-connections", conns, "--idle-seconds", "3600"};
        if (o.server_threads) flags.insert(flags.end(), {"--threads", std::to_string(o.server_threads)});
        std::vector<std::string> args;
        if (o.processes == 0) {
            args = {o.server,    "--port",
                    "0",         "--bind",
                    "127.0.0.1", "--rooms-per-address",
                    rooms,       "--creates-per-minute",
                    rooms,       "--connections-per-address",
                    conns};
        } else {
            logs_ = std::filesystem::absolute("cluster").string();
            args = {"python3",     o.cluster_tool,
                    "--server",    o.server,
                    "--processes", std::to_string(o.processes),
                    "--port",      "0",
                    "--seconds",   "36000",
                    "--dir",       logs_,
                    "--maxconn",   std::to_string(2 * 4 * o.rooms + 256),
                    "--"};
        }
        args.insert(args.end(), flags.begin(), flags.end());
        pid_ = fork();
        if (pid_ < 0) return *why = "cannot fork", false;
        if (pid_ == 0) {
            // The server writes its port on standard error; the cluster its addresses on standard output.
            dup2(pipe_ends[1], o.processes ? 1 : 2);
            close(pipe_ends[0]);
            close(pipe_ends[1]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(pipe_ends[1]);
        log_ = fdopen(pipe_ends[0], "r");
        char line[512];
        while (std::fgets(line, sizeof line, log_)) {
            unsigned port = 0;
            int pid = 0;
            if (o.processes == 0) {
                if (const char* at = std::strstr(line, " port "); at && std::sscanf(at, " port %u", &port) == 1) {
                    port_ = static_cast<uint16_t>(port);
                    servers_.push_back({port_, pid_});
                    break;
                }
            } else if (std::sscanf(line, "server 127.0.0.1:%u pid %d", &port, &pid) == 2) {
                servers_.push_back({static_cast<uint16_t>(port), pid});
            } else if (std::sscanf(line, "redis 127.0.0.1:%u pid %d", &port, &pid) == 2) {
                redis_ = pid;
            } else if (std::sscanf(line, "haproxy 127.0.0.1:%u pid %d", &port, &pid) == 2) {
                port_ = static_cast<uint16_t>(port), haproxy_ = pid;
                break;
            }
        }
        if (!port_) return *why = "the server did not start listening", false;
        reader_ = std::thread([this] {
            char text[512];
            while (std::fgets(text, sizeof text, log_)) note(text);
        });
        return true;
    }
    // Stops the server or the cluster as SIGTERM does: true when it exits cleanly within 20 s (under the
    // sanitizers, with no leak found), else it is killed.
    bool stop() {
        if (pid_ <= 0) return false;
        kill(pid_, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 400 && (done = waitpid(pid_, &status, WNOHANG)) == 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (done == 0) kill(pid_, SIGKILL), waitpid(pid_, &status, 0);
        pid_ = -1;
        if (reader_.joinable()) reader_.join();
        for (const auto& entry :
             logs_.empty() ? std::filesystem::directory_iterator() : std::filesystem::directory_iterator(logs_)) {
            if (entry.path().filename().string().rfind("server-", 0) != 0) continue;
            std::ifstream in(entry.path());
            for (std::string l; std::getline(in, l);) note((l + "\n").c_str());
        }
        return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    ~Child() {
        if (pid_ > 0) stop();
        if (reader_.joinable()) reader_.join();
        if (log_) std::fclose(log_);
    }
    uint16_t port() const { return port_; }
    int faults() const { return faults_; }
    // The servers' ports, for their /metrics; HAProxy's pid, or 0.
    std::vector<uint16_t> ports() const {
        std::vector<uint16_t> out;
        for (auto [port, pid] : servers_) out.push_back(port);
        return out;
    }
    pid_t haproxy() const { return haproxy_; }
    pid_t redis() const { return redis_; }

    // The servers' VmRSS in KiB, summed.
    long rss() const {
        long sum = 0;
        for (auto [port, pid] : servers_) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("VmRSS:", 0) == 0) sum += std::atol(line.c_str() + 6);
        }
        return sum;
    }
    // The servers' user and system time in seconds, summed.
    double cpu() const {
        double sum = 0;
        for (auto [port, pid] : servers_) sum += cpu_of(pid);
        return sum;
    }
    static double cpu_of(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        if (text.rfind(')') == std::string::npos) return 0;
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string f;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> f; i++) {
            if (i == 14) utime = std::stoull(f);
            if (i == 15) stime = std::stoull(f);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

private:
    void note(const char* text) {
        std::string l = text;
        if (l.find("refused") != std::string::npos || l.find("dropped") != std::string::npos ||
            l.find("desync") != std::string::npos) {
            if (faults_++ < 5) std::fprintf(stderr, "online_load: server: %s", text);
        }
    }

    pid_t pid_ = -1;
    pid_t haproxy_ = 0, redis_ = 0;
    uint16_t port_ = 0;
    std::vector<std::pair<uint16_t, pid_t>> servers_;
    std::string logs_;  // the cluster's folder of logs
    FILE* log_ = nullptr;
    std::thread reader_;
    std::atomic<int> faults_{0};
};

// What every light client and room shares, across the client threads.
struct Load {
    uint16_t port = 0;
    std::atomic<int> seated{0};   // rooms with all four players welcomed
    std::atomic<int> started{0};  // rooms whose creator's Start was taken
    std::atomic<int> failed{0};   // connections refused, broken or never made
    std::atomic<int> moved{0};    // Joins moved to another process of the cluster
    std::atomic<bool> measuring{false};
    std::atomic<bool> stopping{false};
};

struct Room;

// One WebSocket: a Create or a ClientJoin, then frames until the end.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(net::io_context& ioc, Load& load, Room& room, bool creator, bool measured, uint16_t port = 0)
        : load_(load),
          room_(room),
          creator_(creator),
          measured_(measured),
          port_(port ? port : load.port),
          resolver_(ioc),
          ws_(ioc),
          timer_(ioc) {}
    void start();
    void send(std::vector<uint8_t> bytes) {
        if (raw_) bytes = frame(bytes);
        out_.push_back(std::move(bytes));
        if (out_.size() == 1) write();
    }
    void click(int x, int y) {
        auto at = [x, y](InputKind kind) {
            return online::ClientInput{{0, 0, kind, static_cast<uint16_t>(x), static_cast<uint16_t>(y), 0}};
        };
        send(online::encode(at(InputKind::kPress)));
        send(online::encode(at(InputKind::kRelease)));
    }
    void close() {
        timer_.cancel();
        beast::error_code ec;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ec);
        beast::get_lowest_layer(ws_).close();
    }
    // The frames that arrived while measuring: tick and arrival in microseconds (CLOCK_REALTIME).
    std::vector<std::pair<uint32_t, int64_t>> arrivals;

private:
    void fail(const char* what, const beast::error_code& ec = {});
    void read();
    void read_raw();
    bool take_frames(int64_t at);
    void drain();
    void write();
    void on_message(const uint8_t* data, size_t size, int64_t at);
    static std::vector<uint8_t> frame(const std::vector<uint8_t>& message);

    Load& load_;
    Room& room_;
    bool creator_;
    bool measured_;  // notes every frame's arrival
    uint16_t port_;  // the server's, or HAProxy's
    tcp::resolver resolver_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
    std::deque<std::vector<uint8_t>> out_;
    bool done_ = false;
    bool draining_ = false;
    net::steady_timer timer_;
    std::array<char, 4096> sink_;
    bool raw_ = false;         // past the handshake, frames are read and written here, not by Beast
    std::vector<uint8_t> in_;  // bytes read raw and not yet a whole frame
};

struct Room {
    net::io_context* ioc = nullptr;
    std::shared_ptr<Client> clients[online::kMaxPlayers];
    online::RoomCode code;
    int welcomed = 0;
    bool start_taken = false;
};

void Client::start() {
    resolver_.async_resolve("127.0.0.1", std::to_string(port_), [self = shared_from_this()](auto ec, auto found) {
        if (ec) return self->fail("resolve", ec);
        beast::get_lowest_layer(self->ws_).async_connect(found, [self](beast::error_code e, auto) {
            if (e) return self->fail("connect", e);
            self->ws_.binary(true);
            std::string code = online::show_code(self->room_.code);
            code.erase(std::remove(code.begin(), code.end(), '-'), code.end());
            std::string path = self->creator_ ? "/room/new" : "/room/" + code;
            self->ws_.async_handshake("127.0.0.1", path, [self](beast::error_code h) {
                if (h) return self->fail("handshake", h);
                // The server sends nothing before the client's first message, so Beast holds no byte
                // past the upgrade's answer: a measured creator takes the socket over from here, to have
                // the kernel's time of each frame's arrival.
                if (self->measured_) {
                    int on = 1;
                    tcp::socket& socket = beast::get_lowest_layer(self->ws_).socket();
                    self->raw_ = setsockopt(socket.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
                }
                if (self->creator_) self->send(online::encode(online::ClientCreate{}));
                else self->send(online::encode(online::ClientJoin{online::kProtocolVersion, self->room_.code, {}}));
                self->read();
            });
        });
    });
}

void Client::fail(const char* what, const beast::error_code& ec) {
    if (done_) return;
    done_ = true;
    if (load_.stopping) return;
    if (load_.failed++ < 5)
        std::fprintf(stderr, "online_load: a client failed: %s%s%s\n", what, ec ? ": " : "", ec.message().c_str());
}

void Client::read() {
    if (draining_) return drain();
    if (raw_) return read_raw();
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) return self->fail("read", ec);
        auto data = self->buffer_.cdata();
        self->on_message(static_cast<const uint8_t*>(data.data()), data.size(), 0);
        self->buffer_.consume(self->buffer_.size());
        self->read();
    });
}

int64_t realtime_micros(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000 + t.tv_nsec / 1000; }

// Reads whatever has come, each read with the time the kernel took in its newest byte, and takes the
// whole frames out of it: a frame that came in two reads counts from the second.
void Client::read_raw() {
    tcp::socket& socket = beast::get_lowest_layer(ws_).socket();
    socket.async_wait(tcp::socket::wait_read, [self = shared_from_this(), &socket](beast::error_code ec) {
        if (ec) return self->fail("read", ec);
        for (int reads = 0; reads < 64; reads++) {
            std::array<uint8_t, 4096> chunk;
            iovec iov{chunk.data(), chunk.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = recvmsg(socket.native_handle(), &msg, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n <= 0)
                return self->fail("read",
                                  n == 0 ? net::error::eof : beast::error_code(errno, beast::system_category()));
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            int64_t at = realtime_micros(now);
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    at = realtime_micros(stamp);
                }
            self->in_.insert(self->in_.end(), chunk.data(), chunk.data() + n);
            if (!self->take_frames(at)) return;
        }
        self->read_raw();
    });
}

// The whole frames at the front of in_, as the server sends them: final and unmasked. False once failed.
bool Client::take_frames(int64_t at) {
    size_t used = 0;
    while (in_.size() - used >= 2) {
        const uint8_t* h = in_.data() + used;
        size_t have = in_.size() - used, head = 2, length = h[1] & 0x7F;
        if ((h[0] & 0x80) == 0 || (h[1] & 0x80) != 0) return fail("a fragmented or masked frame"), false;
        if (length == 126) {
            if (have < 4) break;
            head = 4, length = size_t{h[2]} << 8 | h[3];
        } else if (length == 127) {
            if (have < 10) break;
            head = 10, length = 0;
            for (int i = 0; i < 8; i++) length = length << 8 | h[2 + i];
        }
        if (length > online::kMaxMessage) return fail("a frame too long"), false;
        if (have < head + length) break;
        int opcode = h[0] & 0x0F;
        if (opcode == 0x8) return fail("closed"), false;
        if (opcode == 0x2) on_message(h + head, length, at);
        if (done_) return false;
        used += head + length;
    }
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

// A client's binary frame, final, masked with a key of zeros (the server does not look at the key).
std::vector<uint8_t> Client::frame(const std::vector<uint8_t>& message) {
    std::vector<uint8_t> out = {0x82};
    if (message.size() < 126) {
        out.push_back(static_cast<uint8_t>(0x80 | message.size()));
    } else {
        out.push_back(0x80 | 126);
        out.push_back(static_cast<uint8_t>(message.size() >> 8));
        out.push_back(static_cast<uint8_t>(message.size()));
    }
    out.insert(out.end(), 4, 0);
    out.insert(out.end(), message.begin(), message.end());
    return out;
}

// A joined client, once welcomed, only keeps its socket read: once a second, whatever has come, in one
// read and unparsed; so does a creator left out of the measure, once its Start was taken. A measured
// creator reads every frame as it comes and notes when: a client process that woke for every frame of
// 4,000 or 8,000 connections, on the server's two cores, would measure its own delay more than the
// server's, and the rooms measured are a sample of rooms like the rest.
void Client::drain() {
    timer_.expires_after(std::chrono::seconds(1));
    timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec) return;
        beast::get_lowest_layer(self->ws_).socket().async_read_some(net::buffer(self->sink_),
                                                                    [self](beast::error_code e, size_t) {
                                                                        if (e) return self->fail("read", e);
                                                                        self->drain();
                                                                    });
    });
}

void Client::write() {
    auto done = [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) return self->fail("write", ec);
        self->out_.pop_front();
        if (!self->out_.empty()) self->write();
    };
    if (raw_) net::async_write(beast::get_lowest_layer(ws_).socket(), net::buffer(out_.front()), done);
    else ws_.async_write(net::buffer(out_.front()), done);
}

void Client::on_message(const uint8_t* data, size_t size, int64_t at) {
    auto message = online::decode_to_client(data, size);
    if (!message) return fail("a malformed message");
    if (const auto* moved = std::get_if<online::ServerMoved>(&*message)) {
        // A Join that reached a process of the cluster without its room: the player joins again at the
        // room's owner, once, on a connection of its own; this one ends.
        online::Address to;
        std::string why;
        if (creator_ || !online::parse_address(moved->address, &to, &why))
            return fail(("moved to " + moved->address).c_str());
        for (auto& c : room_.clients) {
            if (c.get() != this) continue;
            c = std::make_shared<Client>(*room_.ioc, load_, room_, false, false,
                                         static_cast<uint16_t>(std::stoi(to.port)));
            c->start();
            load_.moved++;
        }
        done_ = true;
        return close();
    }
    if (const auto* refuse = std::get_if<online::ServerRefuse>(&*message)) {
        std::string why = "refused: " + refuse->reason;
        return fail(why.c_str());
    }
    if (const auto* welcome = std::get_if<online::ServerWelcome>(&*message)) {
        room_.code = welcome->code;
        draining_ = !creator_;
        if (++room_.welcomed == 1) {
            // The creator is in: the others join, in turn, so that they take sides 1 to 3.
            for (int side = 1; side < online::kMaxPlayers; side++) {
                room_.clients[side] = std::make_shared<Client>(*room_.ioc, load_, room_, false, false);
            }
            room_.clients[1]->start();
        } else if (room_.welcomed < online::kMaxPlayers) {
            room_.clients[room_.welcomed]->start();
        } else {
            load_.seated++;
        }
        return;
    }
    const auto* frame = std::get_if<online::ServerFrame>(&*message);
    if (!frame) return;
    if (load_.measuring && raw_) arrivals.emplace_back(frame->tick, at);
    if (creator_ && !room_.start_taken) {
        for (const GameInput& in : frame->inputs) {
            if (in.kind == InputKind::kPress && in.x == kStartX && in.y == kStartY) {
                room_.start_taken = true;
                load_.started++;
                draining_ = !measured_;
            }
        }
    }
}

// Frame delays over every creator, each against its room's clock. A room's clock can be moved on by the
// server, when a tick runs more than a period late, and that counts against it: every later frame is
// as late. It can also be moved back, by a tick of fast play: a restart's two clicks on the map that
// fall in two ticks in a computer's turn switch fast play on for one tick of a quarter of the period,
// and every later frame comes 75 ms earlier. So a frame's delay is its offset (arrival less the tick
// times the period) less the least offset of the room's frames up to it, or of its first second.
struct Delays {
    double p50 = 0, p99 = 0, max = 0;
    size_t frames = 0;
    int fast_rooms = 0;
};

Delays frame_delays(const std::vector<Room>& rooms, int tick_ms) {
    std::vector<int64_t> delays;
    int64_t period = int64_t{tick_ms} * 1000;
    size_t first_second = static_cast<size_t>(std::max(1, 1000 / tick_ms));
    Delays d;
    for (const Room& r : rooms) {
        // A room whose ticks ran at twice tick_ms's pace or more was in fast play for a while, as when a
        // restart's two clicks straddle a game's end: it has no clock to measure against. A room
        // catching up after a stall comes nowhere near that pace.
        if (!r.clients[0]) continue;
        const auto& seen = r.clients[0]->arrivals;
        if (seen.size() > 1 && (seen.back().first - seen.front().first) * period >
                                   (seen.back().second - seen.front().second) * 2 + period) {
            d.fast_rooms++;
            continue;
        }
        int64_t least = INT64_MAX;
        for (size_t i = 0; i < seen.size() && i < first_second; i++)
            least = std::min(least, seen[i].second - seen[i].first * period);
        for (auto [tick, at] : seen) {
            least = std::min(least, at - tick * period);
            delays.push_back(at - tick * period - least);
        }
    }
    d.frames = delays.size();
    if (delays.empty()) return d;
    std::sort(delays.begin(), delays.end());
    auto at = [&](double q) {
        return delays[std::min(delays.size() - 1, static_cast<size_t>(q * delays.size()))] / 1000.0;
    };
    d.p50 = at(0.50), d.p99 = at(0.99), d.max = delays.back() / 1000.0;
    return d;
}

// A room of four full headless players, each with its own game: the persons play every side, and the
// creator starts again when the title comes back. The server compares their hashes every 10 ticks.
void full_room(const online::Address& server, Clock::time_point end, std::atomic<int>* failed) {
    using namespace online_test;
    Doorbell bell;
    std::vector<std::unique_ptr<Player>> owned;
    std::vector<Player*> players;
    auto in_room = [&](Player& p) {
        return pump_until(
                   players, bell, [&] { return p.session().playing() || p.session().lost(); },
                   std::chrono::seconds(30)) &&
               !p.session().lost();
    };
    for (int side = 0; side < online::kMaxPlayers; side++) {
        owned.push_back(std::make_unique<Player>(&bell));
        players.push_back(owned.back().get());
        if (side == 0) owned.back()->create(server);
        else owned.back()->join(server, players[0]->session().code());
        if (!in_room(*owned.back()))
            return (void)(std::fprintf(stderr, "online_load: a full player is not in\n"), (*failed)++);
    }
    Person persons[online::kMaxPlayers];
    uint32_t clicked = 0;
    auto script = [&] {
        Player& creator = *players[0];
        bool title = creator.in([] { return timer_mode == MODE_TITLE; });
        if (title && creator.session().tick() - clicked > 50) {
            creator.click(kStartX, kStartY);
            clicked = creator.session().tick();
        }
        for (Player* p : players) persons[p->session().side()].act(*p);
    };
    auto lost = [&] {
        for (Player* p : players)
            if (p->session().lost()) return true;
        return false;
    };
    pump_until(players, bell, lost, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()), script);
    if (lost()) {
        std::fprintf(stderr, "online_load: a full player lost the connection\n");
        (*failed)++;
    }
}

// The server's counter of that name from /metrics; -1 when it cannot be read.
long long metric(uint16_t port, const std::string& name) {
    try {
        net::io_context ioc;
        tcp::resolver resolver(ioc);
        beast::tcp_stream stream(ioc);
        stream.connect(resolver.resolve("127.0.0.1", std::to_string(port)));
        http::request<http::empty_body> request(http::verb::get, "/metrics", 11);
        request.set(http::field::host, "127.0.0.1");
        http::write(stream, request);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        http::read(stream, buffer, response);
        std::istringstream lines(response.body());
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind(name + " ", 0) == 0) return std::atoll(line.c_str() + name.size() + 1);
    } catch (const std::exception&) {
    }
    return -1;
}

// The counter summed over the servers; -1 when one cannot be read.
long long metric(const std::vector<uint16_t>& ports, const std::string& name) {
    long long sum = 0;
    for (uint16_t port : ports) {
        long long one = metric(port, name);
        if (one < 0) return -1;
        sum += one;
    }
    return sum;
}

// Waits until the count reaches want or the time is up.
bool wait_for(const std::atomic<int>& count, int want, std::chrono::seconds limit, const std::atomic<int>& failed) {
    auto end = Clock::now() + limit;
    while (count < want && Clock::now() < end && failed == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return count >= want;
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        const char* v = argv[i + 1];
        // Made absolute: the load test works in an empty folder of its own.
        if (arg == "--server") o->server = std::filesystem::absolute(v).string();
        else if (arg == "--rooms") o->rooms = std::atoi(v);
        else if (arg == "--seconds") o->seconds = std::atoi(v);
        else if (arg == "--tick-ms") o->tick_ms = std::atoi(v);
        else if (arg == "--full-rooms") o->full_rooms = std::atoi(v);
        else if (arg == "--threads") o->threads = std::atoi(v);
        else if (arg == "--server-threads") o->server_threads = std::atoi(v);
        else if (arg == "--measured") o->measured = std::atoi(v);
        else if (arg == "--nice") o->nice = std::atoi(v);
        else if (arg == "--processes") o->processes = std::atoi(v);
        else if (arg == "--cluster-tool") o->cluster_tool = v;
        else return false;
    }
    o->cluster_tool = std::filesystem::absolute(o->cluster_tool).string();
    return argc % 2 == 1 && !o->server.empty() && o->rooms > 0 && o->seconds > 0 && o->seconds <= 3600 &&
           o->tick_ms > 0 && o->full_rooms >= 0 && o->threads > 0 && o->threads <= 8 && o->server_threads >= 0 &&
           o->server_threads <= 64 && o->measured > 0 && o->nice >= 0 && o->nice <= 19 && o->processes >= 0 &&
           o->processes <= 16;
}

// Client threads, each with an io_context its rooms live on.
struct Threads {
    explicit Threads(int n) : ioc(static_cast<size_t>(n)) {
        for (auto& c : ioc) guards.emplace_back(net::make_work_guard(c));
        for (auto& c : ioc) threads.emplace_back([&c] { c.run(); });
    }
    void stop() {
        guards.clear();
        for (auto& c : ioc) c.stop();
        for (auto& t : threads) t.join();
        threads.clear();
    }
    ~Threads() {
        if (!threads.empty()) stop();
    }
    std::deque<net::io_context> ioc;
    std::vector<net::executor_work_guard<net::io_context::executor_type>> guards;
    std::vector<std::thread> threads;
};

template <typename F>
void on(Room& room, F f) {
    net::post(*room.ioc, f);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: online_load --server PATH [--rooms R] [--seconds S] [--tick-ms MS] [--full-rooms N] "
                     "[--threads T] [--server-threads N] [--measured M] [--nice N] [--processes K [--cluster-tool "
                     "PATH]]\n");
        return 2;
    }
    // Four connections a room, in this process and in the server's, which inherits the limit.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < static_cast<rlim_t>(4 * o.rooms + 256))
        std::fprintf(stderr, "online_load: %llu descriptors may be too few\n",
                     static_cast<unsigned long long>(files.rlim_cur));
    std::signal(SIGPIPE, SIG_IGN);
    online_test::work_in_empty_folder();

    Child server;
    std::string why;
    if (!server.start(o, &why)) {
        std::fprintf(stderr, "online_load: %s\n", why.c_str());
        return 1;
    }
    // The generator stands for players on machines of their own: on the server's cores it yields to the
    // server. Set on this thread before any other of the generator's is made, which take it on.
    setpriority(PRIO_PROCESS, 0, o.nice);
    Load load;
    load.port = server.port();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long rss_empty = server.rss();

    auto began = Clock::now();
    Threads threads(o.threads);
    std::vector<Room> rooms(static_cast<size_t>(o.rooms));
    for (int r = 0; r < o.rooms; r++) {
        while (r - load.seated >= kSettingUp && load.failed == 0 && Clock::now() - began < std::chrono::seconds(300))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Room& room = rooms[static_cast<size_t>(r)];
        room.ioc = &threads.ioc[static_cast<size_t>(r % o.threads)];
        // The measured rooms are spread over the run's rooms, and so over the server's lanes.
        bool measured = static_cast<int64_t>(r) * o.measured % o.rooms < o.measured;
        room.clients[0] = std::make_shared<Client>(*room.ioc, load, room, true, measured);
        on(room, [c = room.clients[0]] { c->start(); });
    }
    bool seated = wait_for(load.seated, o.rooms, std::chrono::seconds(120), load.failed);
    double setup = std::chrono::duration<double>(Clock::now() - began).count();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long rss_title = server.rss();

    // The creators hand every side to the computer and start; and start again every few seconds, so that
    // a room back on its title screen plays again. Start is on the map, where a click in a computer's
    // turn switches fast play: two clicks switch it back, and on the title the second lands on the
    // placing screen, which takes none, so the rooms keep the pace of tick_ms.
    for (Room& room : rooms) {
        on(room, [&room] {
            for (int side = 0; side < online::kMaxPlayers; side++) room.clients[0]->click(box_x(side), kBoxY);
            room.clients[0]->click(kStartX, kStartY);
        });
    }
    bool started = seated && wait_for(load.started, o.rooms, std::chrono::seconds(60), load.failed);
    std::atomic<bool> restarting{true};
    std::thread restarter([&] {
        for (int second = 0; restarting; second++) {
            for (size_t r = static_cast<size_t>(second % 5); r < rooms.size(); r += 5)
                on(rooms[r], [&room = rooms[r]] {
                    room.clients[0]->click(kStartX, kStartY);
                    room.clients[0]->click(kStartX, kStartY);
                });
            for (int i = 0; i < 10 && restarting; i++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long rss_play = server.rss();

    // The measured run: full rooms beside the light ones.
    auto end = Clock::now() + std::chrono::seconds(o.seconds);
    double cpu_before = server.cpu();
    double proxy_before = server.haproxy() ? Child::cpu_of(server.haproxy()) : 0;
    double redis_before = server.redis() ? Child::cpu_of(server.redis()) : 0;
    long long frames_before = metric(server.ports(), "vantor_frames_total");
    // The server's own view of its lateness: its ticks by how long after their time they ran.
    const std::array<const char*, 6> bounds = {"1", "5", "10", "25", "100", "250"};
    auto lateness = [&] {
        std::array<long long, bounds.size()> at{};
        for (size_t i = 0; i < bounds.size(); i++)
            at[i] = metric(server.ports(), std::string("vantor_tick_lateness_ms_bucket{le=\"") + bounds[i] + "\"}");
        return at;
    };
    auto late_before = lateness();
    auto run_began = Clock::now();
    load.measuring = true;
    std::atomic<int> full_failed{0};
    std::vector<std::thread> full;
    online::Address address{"127.0.0.1", std::to_string(load.port), "/"};
    if (started)
        for (int i = 0; i < o.full_rooms; i++) full.emplace_back([&] { full_room(address, end, &full_failed); });
    while (started && Clock::now() < end && load.failed == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    load.measuring = false;
    double run_seconds = std::chrono::duration<double>(Clock::now() - run_began).count();
    double cpu = server.cpu() - cpu_before;
    double proxy = server.haproxy() ? Child::cpu_of(server.haproxy()) - proxy_before : 0;
    double redis = server.redis() ? Child::cpu_of(server.redis()) - redis_before : 0;
    long long run_frames = metric(server.ports(), "vantor_frames_total") - frames_before;
    auto late_after = lateness();
    long rss_end = server.rss();
    for (std::thread& t : full) t.join();
    restarting = false;
    restarter.join();

    long long desyncs = metric(server.ports(), "vantor_desyncs_total");
    long long checks = metric(server.ports(), "vantor_checks_total");
    long long frames = metric(server.ports(), "vantor_frames_total");
    load.stopping = true;
    for (Room& room : rooms)
        on(room, [&room] {
            for (auto& c : room.clients)
                if (c) c->close();
        });
    threads.stop();
    Delays d = frame_delays(rooms, o.tick_ms);
    bool clean_exit = server.stop();

    double per_title = (rss_title - rss_empty) / static_cast<double>(o.rooms);
    double per_play = (rss_play - rss_empty) / static_cast<double>(o.rooms);
    std::printf("rooms %d of 4 light clients (set up in %.1f s), %d full rooms, tick %d ms, %d s of play\n", o.rooms,
                setup, o.full_rooms, o.tick_ms, o.seconds);
    std::printf("frame delay ms: p50 %.2f p99 %.2f max %.2f over %zu frames of %d rooms (%d in fast play left out)\n",
                d.p50, d.p99, d.max, d.frames, std::min(o.measured, o.rooms), d.fast_rooms);
    std::printf("server RSS KiB: empty %ld, titles %ld, in play %ld, at the end %ld\n", rss_empty, rss_title, rss_play,
                rss_end);
    std::printf("per room KiB: title %.0f, in play %.0f\n", per_title, per_play);
    std::printf("server CPU: %.1f s over %.1f s, %.0f%% of 2 cores\n", cpu, run_seconds,
                100.0 * cpu / (2.0 * run_seconds));
    if (o.processes)
        std::printf(
            "a cluster of %d processes behind HAProxy: CPU of HAProxy %.1f s (%.0f%% of 2 cores), of Redis %.1f s "
            "(%.0f%%); %d Joins moved\n",
            o.processes, proxy, 100.0 * proxy / (2.0 * run_seconds), redis, 100.0 * redis / (2.0 * run_seconds),
            load.moved.load());
    // What a room's tick costs the server, all its work over the run included (accepts, reads, hashes).
    std::printf("server CPU a room tick: %.1f us over %lld ticks\n", run_frames > 0 ? 1e6 * cpu / run_frames : 0.0,
                run_frames);
    std::printf("server ticks by lateness:");
    for (size_t i = 0; i < bounds.size(); i++)
        std::printf(" <=%s ms %.2f%%", bounds[i],
                    run_frames > 0 ? 100.0 * static_cast<double>(late_after[i] - late_before[i]) / run_frames : 0.0);
    std::printf("\n");
    std::printf("server frames %lld hash checks %lld desyncs %lld; failed connections %d, server faults %d%s\n", frames,
                checks, desyncs, load.failed.load() + full_failed.load(), server.faults(),
                clean_exit ? "" : "; the server did not stop cleanly");
    bool ok = seated && started && clean_exit && load.failed == 0 && full_failed == 0 && desyncs == 0 &&
              (o.full_rooms == 0 || checks > 0) && d.frames > 0;
    if (!seated) std::fprintf(stderr, "online_load: only %d of %d rooms were seated\n", load.seated.load(), o.rooms);
    else if (!started) std::fprintf(stderr, "online_load: only %d of %d rooms started\n", load.started.load(), o.rooms);
    return ok ? 0 : 1;
}
