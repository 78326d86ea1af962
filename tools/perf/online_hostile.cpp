// What hostile clients on the loopback can still do to vantor-server, measured (docs/ONLINE.md,
// Limits): the rooms one address can hold, how long a ping flood lasts, the server's memory after
// three clients that never read spent two minutes in rooms at --tick-ms 1, and honest Creates from
// another address beside slowloris connections that dribble a byte a second.
//   online_hostile --server PATH [--slowloris N] [--spread yes] [--reader-seconds S]
// The server runs as a child process on a free port; the attacks come from 127.0.0.2 and 127.0.0.4, the
// honest players from 127.0.1.x.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "online/protocol.h"

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

uint16_t free_port() {
    net::io_context ioc;
    tcp::acceptor a(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    return a.local_endpoint().port();
}

// The resident memory of a process, in KiB.
long rss_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// A WebSocket client from an address, every wait bounded.
class Client {
public:
    Client(const std::string& from, uint16_t port, int receive_buffer = 0) {
        auto& socket = beast::get_lowest_layer(ws_).socket();
        beast::error_code ec;
        socket.open(tcp::v4(), ec);
        if (receive_buffer) socket.set_option(net::socket_base::receive_buffer_size(receive_buffer), ec);
        socket.bind(tcp::endpoint(net::ip::make_address(from), 0), ec);
        bool done = false;
        beast::get_lowest_layer(ws_).async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port),
                                                   [&](beast::error_code e) {
                                                       if (e) return (void)(done = true);
                                                       ws_.async_handshake("127.0.0.1", "/", [&](beast::error_code h) {
                                                           ok_ = !h;
                                                           done = true;
                                                       });
                                                   });
        ioc_.run_for(5s);
        ws_.binary(true);
    }
    bool ok() const { return ok_; }
    bool send(const std::vector<uint8_t>& bytes) {
        beast::error_code ec;
        ws_.write(net::buffer(bytes), ec);
        return !ec;
    }
    bool ping() {
        beast::error_code ec;
        ws_.ping({}, ec);
        return !ec;
    }
    std::optional<online::ToClient> next(std::chrono::milliseconds wait = 5s) {
        beast::flat_buffer buffer;
        bool done = false;
        beast::error_code result;
        ws_.async_read(buffer, [&](beast::error_code ec, size_t) { result = ec, done = true; });
        ioc_.restart();
        ioc_.run_for(wait);
        if (!done) {
            beast::get_lowest_layer(ws_).close();
            ioc_.restart();
            ioc_.run_for(1s);
        }
        if (!done || result) return std::nullopt;
        auto data = buffer.cdata();
        return online::decode_to_client(static_cast<const uint8_t*>(data.data()), data.size());
    }
    bool create() {
        if (!ok_ || !send(online::encode(online::ClientCreate{}))) return false;
        std::optional<online::ToClient> m = next();
        return m && std::holds_alternative<online::ServerWelcome>(*m);
    }

private:
    net::io_context ioc_;
    beast::websocket::stream<beast::tcp_stream> ws_{ioc_};
    bool ok_ = false;
};

int rooms_one_address_holds(uint16_t port) {
    std::vector<std::unique_ptr<Client>> held;
    int made = 0;
    for (int i = 0; i < 250; i++) {
        held.push_back(std::make_unique<Client>("127.0.0.2", port));
        if (held.back()->create()) made++;
    }
    return made;
}

double ping_flood_seconds(uint16_t port, long* pings) {
    Client c("127.0.0.2", port);
    auto start = Clock::now();
    for (*pings = 0; Clock::now() - start < 60s && c.ping(); ++*pings) {
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void non_readers(uint16_t port, int seconds) {
    std::vector<std::unique_ptr<Client>> readers;
    for (int i = 0; i < 3; i++) {
        readers.push_back(std::make_unique<Client>("127.0.0.4", port, 4096));
        readers.back()->create();
    }
    // They send a hash every 10 s, as a client does, and read nothing.
    for (int s = 0; s < seconds; s += 10) {
        for (auto& r : readers) r->send(online::encode(online::ClientHash{}));
        std::this_thread::sleep_for(10s);
    }
}

int honest_creates_beside_slowloris(uint16_t port, int count, bool spread, int* honest_tries) {
    net::io_context ioc;
    std::vector<std::unique_ptr<tcp::socket>> dribblers;
    for (int i = 0; i < count; i++) {
        auto s = std::make_unique<tcp::socket>(ioc);
        beast::error_code ec;
        s->open(tcp::v4(), ec);
        std::string from = spread ? "127.0." + std::to_string(2 + i / 250) + "." + std::to_string(i % 250 + 1)
                                  : std::string("127.0.0.2");
        s->bind(tcp::endpoint(net::ip::make_address(from), 0), ec);
        s->connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
        s->non_blocking(true, ec);
        dribblers.push_back(std::move(s));
    }
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n";
    int made = 0;
    *honest_tries = 25;
    for (int i = 0; i < *honest_tries; i++) {
        for (auto& s : dribblers) {
            beast::error_code ec;
            s->write_some(net::buffer(&request[static_cast<size_t>(i) % request.size()], 1), ec);
        }
        // Each from an address of its own, as players are: one address's own limits are not the measure.
        Client honest("127.0.1." + std::to_string(i + 1), port);
        if (honest.create()) made++;
        std::this_thread::sleep_for(1s);
    }
    return made;
}

}  // namespace

int main(int argc, char** argv) {
    std::string server;
    int slowloris = 1100, reader_seconds = 120;
    bool spread = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--server") server = argv[i + 1];
        else if (a == "--slowloris") slowloris = std::atoi(argv[i + 1]);
        else if (a == "--reader-seconds") reader_seconds = std::atoi(argv[i + 1]);
        else if (a == "--spread") spread = std::string(argv[i + 1]) == "yes";
    }
    if (server.empty()) {
        std::fprintf(stderr,
                     "usage: online_hostile --server PATH [--slowloris N] [--spread yes] [--reader-seconds S]\n");
        return 2;
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    uint16_t port = free_port();
    std::string port_text = std::to_string(port);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(server.c_str(), server.c_str(), "--port", port_text.c_str(), "--bind", "127.0.0.1", "--tick-ms", "1",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(1s);
    long start_kib = rss_kib(pid);
    std::printf("rooms one address holds: %d\n", rooms_one_address_holds(port));
    std::this_thread::sleep_for(12s);  // its rooms, abandoned, go
    long pings = 0;
    double flood = ping_flood_seconds(port, &pings);
    std::printf("ping flood: closed after %.3f s and %ld pings\n", flood, pings);
    non_readers(port, reader_seconds);
    std::printf("memory: %ld KiB at start, %ld KiB after 3 clients that never read for %d s at --tick-ms 1\n",
                start_kib, rss_kib(pid), reader_seconds);
    int tries = 0;
    int made = honest_creates_beside_slowloris(port, slowloris, spread, &tries);
    std::printf("honest creates beside %d slowloris connections from %s: %d of %d\n", slowloris,
                spread ? "an address each" : "one address", made, tries);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return 0;
}
