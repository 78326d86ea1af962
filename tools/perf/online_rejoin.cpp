// How long a cut connection takes to come back: a server on the loopback and a room of two headless
// players, the second reaching the server through a relay of this tool's own on 127.0.0.1. Mid-game the
// relay closes both sockets of every connection through it, as a phone changing networks would, and
// the player's session rejoins by itself through the relay. Each cut is timed from the close to the
// snapshot that puts the player back in its seat.
//   online_rejoin [--cuts N] [--limit-ms MS]
// Prints the median and the worst; fails when a cut is not back within the limit (10 s unless told).
#include <algorithm>
#include <array>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "model/globals.h"
#include "tests/online/harness.h"

namespace {

using namespace online_test;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using error_code = boost::system::error_code;

// Passes bytes both ways between its clients and the server, on a thread of its own, until cut.
class Relay {
public:
    explicit Relay(uint16_t server_port) : server_(net::ip::make_address("127.0.0.1"), server_port) {
        tcp::endpoint here(net::ip::make_address("127.0.0.1"), 0);
        acceptor_.open(here.protocol());
        acceptor_.bind(here);
        acceptor_.listen();
        accept();
        thread_ = std::thread([this] { ioc_.run(); });
    }
    ~Relay() {
        net::post(ioc_, [this] { ioc_.stop(); });
        thread_.join();
    }
    uint16_t port() const { return acceptor_.local_endpoint().port(); }
    // Closes both sockets of every connection through it; returns once they are closed.
    void cut() {
        std::promise<void> done;
        net::post(ioc_, [&] {
            for (auto& weak : pipes_)
                if (auto pipe = weak.lock()) close(*pipe);
            pipes_.clear();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    struct Pipe {
        explicit Pipe(tcp::socket s) : client(std::move(s)), server(client.get_executor()) {}
        tcp::socket client, server;
        std::array<char, 16384> up{}, down{};
    };
    void accept() {
        acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
            if (ec) return;
            auto pipe = std::make_shared<Pipe>(std::move(socket));
            pipes_.push_back(pipe);
            pipe->server.async_connect(server_, [this, pipe](error_code e) {
                if (e) return close(*pipe);
                pass(pipe, pipe->client, pipe->server, pipe->up);
                pass(pipe, pipe->server, pipe->client, pipe->down);
            });
            accept();
        });
    }
    void pass(const std::shared_ptr<Pipe>& pipe, tcp::socket& from, tcp::socket& to, std::array<char, 16384>& buffer) {
        from.async_read_some(net::buffer(buffer), [this, pipe, &from, &to, &buffer](error_code ec, size_t n) {
            if (ec) return close(*pipe);
            net::async_write(to, net::buffer(buffer.data(), n),
                             [this, pipe, &from, &to, &buffer](error_code e, size_t) {
                                 if (e) return close(*pipe);
                                 pass(pipe, from, to, buffer);
                             });
        });
    }
    static void close(Pipe& pipe) {
        error_code ignored;
        pipe.client.close(ignored);
        pipe.server.close(ignored);
    }

    net::io_context ioc_{1};
    tcp::acceptor acceptor_{ioc_};
    tcp::endpoint server_;
    std::vector<std::weak_ptr<Pipe>> pipes_;
    std::thread thread_;
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int run(int cuts, double limit) {
    work_in_empty_folder();
    LocalServer server;
    Relay relay(static_cast<uint16_t>(std::stoi(server.address().port)));
    online::Address through = server.address();
    through.port = std::to_string(relay.port());
    Doorbell bell;
    Player red(&bell), blue(&bell);
    auto ready = [](Player& p) { return [&p] { return p.session().playing() || p.session().lost(); }; };
    red.create(server.address());
    std::vector<Player*> both{&red, &blue};
    if (!pump_until({&red}, bell, ready(red), std::chrono::seconds(20)) || red.session().lost()) {
        std::fprintf(stderr, "online_rejoin: no room\n");
        return 1;
    }
    blue.join(through, red.session().code());
    if (!pump_until(both, bell, ready(blue), std::chrono::seconds(20)) || blue.session().lost()) {
        std::fprintf(stderr, "online_rejoin: the second player could not join\n");
        return 1;
    }
    red.click(380, 340);
    std::vector<double> times;
    for (int i = 0; i < cuts; i++) {
        pump_until(
            both, bell, [] { return false; }, std::chrono::milliseconds(500));
        uint32_t snapshots = blue.session().snapshots();
        relay.cut();
        Clock::time_point cut_at = Clock::now();
        bool back = pump_until(
            both, bell,
            [&] {
                return blue.session().lost() || (blue.session().snapshots() > snapshots && !blue.session().rejoining());
            },
            std::chrono::milliseconds(static_cast<int>(limit) + 5000));
        if (!back || blue.session().lost()) {
            std::fprintf(stderr, "online_rejoin: cut %d did not come back: %s\n", i + 1,
                         blue.session().reason().c_str());
            return 1;
        }
        times.push_back(ms(Clock::now() - cut_at));
    }
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2], worst = times.back();
    std::printf("online_rejoin: %d cuts, back in median %.0f ms, worst %.0f ms\n", cuts, median, worst);
    if (worst >= limit) {
        std::fprintf(stderr, "online_rejoin: the worst is over the limit of %.0f ms\n", limit);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int cuts = 20;
    double limit = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        if (flag == "--cuts") cuts = std::clamp(std::atoi(argv[i + 1]), 1, 1000);
        else if (flag == "--limit-ms") limit = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: online_rejoin [--cuts N] [--limit-ms MS]\n");
            return 2;
        }
    }
    return run(cuts, limit);
}
