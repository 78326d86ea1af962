// vantor-server: rooms of online play, each a headless game that is the authority (docs/ONLINE.md).
//   vantor-server --port N [--bind ADDR] [--tick-ms MS] [--max-rooms N] [--max-connections N]
//                 [--idle-seconds S] [--expiry-seconds S] [--shard I/K] [--rooms-per-address N]
//                 [--creates-per-minute N] [--connections-per-address N] [--guesses-per-minute N]
//                 [--site DIR] [--metrics-from ADDR|any] [--desync-dir DIR] [--tls-cert FILE --tls-key FILE]
//                 [--threads N] [--redis HOST:PORT --process N [--advertise ws://HOST:PORT]]
// The rooms run on N threads, one per core by default (one with TLS); a room stays on one.
// Serves until SIGINT or SIGTERM. Without --site it serves the site installed beside it, if any
// (PREFIX/share/vantor/site for PREFIX/bin/vantor-server); --site "" serves none. The rooms play the built-in maps
// only: the server works in an empty folder of its own, so that no map file where it was started is listed.
#include <arpa/inet.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "app/app.h"
#include "model/globals.h"
#include "online/cluster_redis.h"
#include "online/server.h"
#include "online/site.h"
#include "platform/gdi.h"
#include "platform/null.h"

namespace {

constexpr const char* kUsage =
    "usage: vantor-server --port N [--bind ADDR] [--tick-ms MS] [--max-rooms N] [--max-connections N]\n"
    "                     [--idle-seconds S] [--expiry-seconds S] [--shard I/K] [--rooms-per-address N]\n"
    "                     [--creates-per-minute N] [--connections-per-address N] [--guesses-per-minute N]\n"
    "                     [--site DIR] [--metrics-from ADDR|any] [--desync-dir DIR]\n"
    "                     [--tls-cert FILE --tls-key FILE] [--threads N]\n"
    "                     [--redis HOST:PORT --process N [--advertise ws://HOST:PORT]]\n";

// A whole number within limits, or false.
bool number(const char* text, long long lo, long long hi, long long* value) {
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (!*text || *end || v < lo || v > hi) return false;
    *value = v;
    return true;
}

// I/K with 0 <= I < K <= 32: the first character of a code has 32 values.
bool shard(const std::string& text, online::ServerOptions* options) {
    size_t slash = text.find('/');
    long long i = 0, k = 0;
    if (slash == std::string::npos || !number(text.substr(0, slash).c_str(), 0, 31, &i) ||
        !number(text.substr(slash + 1).c_str(), 1, 32, &k) || i >= k)
        return false;
    options->shard = static_cast<uint32_t>(i);
    options->shards = static_cast<uint32_t>(k);
    return true;
}

bool address_or_any(const char* text) {
    in6_addr bytes{};
    return std::strcmp(text, "any") == 0 || inet_pton(AF_INET, text, &bytes) == 1 ||
           inet_pton(AF_INET6, text, &bytes) == 1;
}

// What makes the server one process of a cluster (docs/ONLINE.md, More than one process).
struct ClusterFlags {
    std::string redis;  // HOST:PORT; empty: a process on its own
    long long process = -1;
    std::string advertise;
};

bool redis_address(const std::string& text, online::DirectoryConfig* config) {
    size_t colon = text.rfind(':');
    long long port = 0;
    if (colon == std::string::npos || colon == 0 || !number(text.substr(colon + 1).c_str(), 1, 65535, &port))
        return false;
    config->host = text.substr(0, colon);
    config->port = static_cast<int>(port);
    return true;
}

bool parse(int argc, char** argv, online::ServerOptions* options, bool* site_given, ClusterFlags* cluster) {
    bool port_given = false, threads_given = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vantor-server: %s needs a value\n%s", arg.c_str(), kUsage);
            return false;
        }
        const char* value = argv[++i];
        long long v = 0;
        bool ok = true;
        if (arg == "--bind") options->bind = value;
        else if (arg == "--port")
            ok = number(value, 0, 65535, &v), options->port = static_cast<uint16_t>(v), port_given = true;
        else if (arg == "--tick-ms") ok = number(value, 1, 10000, &v), options->tick_ms = static_cast<uint32_t>(v);
        else if (arg == "--max-rooms") ok = number(value, 1, 1000000, &v), options->max_rooms = static_cast<size_t>(v);
        else if (arg == "--max-connections")
            ok = number(value, 1, 1000000, &v), options->max_connections = static_cast<size_t>(v);
        else if (arg == "--idle-seconds")
            ok = number(value, 1, 86400, &v), options->idle_seconds = static_cast<uint32_t>(v);
        else if (arg == "--expiry-seconds")
            ok = number(value, 1, 7 * 86400, &v), options->expiry_seconds = static_cast<uint32_t>(v);
        else if (arg == "--shard") ok = shard(value, options);
        else if (arg == "--threads")
            ok = number(value, 1, 32, &v), options->lanes = static_cast<uint32_t>(v), threads_given = true;
        else if (arg == "--desync-dir") options->desync_folder = std::filesystem::absolute(value).string();
        else if (arg == "--site") options->site = value, *site_given = true;
        else if (arg == "--metrics-from") ok = address_or_any(value), options->metrics_from = value;
        else if (arg == "--guesses-per-minute")
            ok = number(value, 1, 1000000, &v), options->guesses_per_minute = static_cast<size_t>(v);
        else if (arg == "--tls-cert") options->tls_cert = value;
        else if (arg == "--tls-key") options->tls_key = value;
        else if (arg == "--redis") cluster->redis = value;
        else if (arg == "--process") ok = number(value, 0, 1000000, &cluster->process);
        else if (arg == "--advertise")
            ok = std::string(value).starts_with("ws://") || std::string(value).starts_with("wss://"),
            cluster->advertise = value;
        else if (arg == "--rooms-per-address")
            ok = number(value, 1, 1000000, &v), options->rooms_per_address = static_cast<size_t>(v);
        else if (arg == "--creates-per-minute")
            ok = number(value, 1, 1000000, &v), options->creates_per_minute = static_cast<size_t>(v);
        else if (arg == "--connections-per-address")
            ok = number(value, 1, 1000000, &v), options->connections_per_address = static_cast<size_t>(v);
        else {
            std::fprintf(stderr, "vantor-server: unexpected argument %s\n%s", arg.c_str(), kUsage);
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "vantor-server: %s %s is out of range\n%s", arg.c_str(), value, kUsage);
            return false;
        }
    }
    if (!port_given) std::fprintf(stderr, "vantor-server: --port is needed\n%s", kUsage);
    if (options->tls_cert.empty() != options->tls_key.empty()) {
        std::fprintf(stderr, "vantor-server: --tls-cert and --tls-key go together\n%s", kUsage);
        return false;
    }
    if (!cluster->redis.empty() && cluster->process < 0) {
        std::fprintf(stderr, "vantor-server: --redis needs --process N, unique in the cluster\n%s", kUsage);
        return false;
    }
    // A lane holds the codes of one first character at least: of shard I/K's 32 / K, a lane's share.
    // By default, one lane a core, as many as that allows.
    if (!threads_given) options->lanes = std::clamp(std::thread::hardware_concurrency(), 1u, 32 / options->shards);
    if (options->lanes * options->shards > 32) {
        std::fprintf(stderr, "vantor-server: --threads times the shards' count is at most 32\n%s", kUsage);
        return false;
    }
    return port_given;
}

// Joins the cluster once the port is known: the lease, and the address "moved" sends players to.
bool join_cluster(online::RedisCluster& cluster, const ClusterFlags& flags, const online::ServerOptions& options,
                  uint16_t port) {
    std::string advertise = flags.advertise;
    if (advertise.empty()) {
        if (options.bind == "0.0.0.0" || options.bind == "::") {
            std::fprintf(stderr,
                         "vantor-server: bound to every address, the cluster needs --advertise ws://HOST:PORT\n");
            return false;
        }
        bool v6 = options.bind.find(':') != std::string::npos;
        advertise = std::string(options.tls_cert.empty() ? "ws://" : "wss://") + (v6 ? "[" : "") + options.bind +
                    (v6 ? "]" : "") + ":" + std::to_string(port);
    }
    cluster.advertise(advertise);
    std::string why;
    if (cluster.start(std::chrono::seconds(5), &why)) return true;
    std::fprintf(stderr, "vantor-server: %s\n", why.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    online::ServerOptions options;
    bool site_given = false;
    ClusterFlags flags;
    if (!parse(argc, argv, &options, &site_given, &flags)) return 2;
    std::shared_ptr<online::RedisCluster> cluster;
    if (!flags.redis.empty()) {
        online::ClusterConfig config;
        if (!redis_address(flags.redis, &config.directory)) {
            std::fprintf(stderr, "vantor-server: --redis %s is not HOST:PORT\n%s", flags.redis.c_str(), kUsage);
            return 2;
        }
        config.directory.process = static_cast<int>(flags.process);
        config.log = [](const std::string& line) { std::fprintf(stderr, "vantor-server: %s\n", line.c_str()); };
        options.cluster = cluster = std::make_shared<online::RedisCluster>(config);
    }
    if (!site_given)
        if (auto site = online::installed_site("/proc/self/exe")) options.site = site->string();
    // The folder is named before the server leaves for its empty working folder.
    std::error_code ec;
    if (!options.site.empty()) options.site = std::filesystem::absolute(options.site, ec).string();
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    namespace fs = std::filesystem;
    // The certificate's files are named from where the server was started, and read again later.
    if (!options.tls_cert.empty()) options.tls_cert = fs::absolute(options.tls_cert, ec).string();
    if (!options.tls_key.empty()) options.tls_key = fs::absolute(options.tls_key, ec).string();
    std::string pattern = (fs::temp_directory_path(ec) / "vantor-server-XXXXXX").string();
    if (ec || !mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
        std::fprintf(stderr, "vantor-server: cannot make an empty working folder\n");
        return 1;
    }

    // No one looks at a room's pictures. Its window has none, and a snapshot draws one as a paint
    // would; its map with the icons keeps only the tiles drawn on, over the map all rooms share.
    plat::set_window_pictures(false);
    plat::set_layered_pictures(true);
    online::GameHooks hooks;
    hooks.open = [] { return openwindow(); };
    hooks.deliver = [](uint32_t message, uint32_t wParam, int32_t lParam) {
        feed(hwnd, message, wParam, lParam);
        // The headless backend keeps the name of every sound played: a server would pile them up.
        plat::clear_sound_log();
    };
    hooks.thread = [] {
        plat::set_window_pictures(false);
        plat::set_layered_pictures(true);
    };
    online::Server server(options, hooks);
    std::string why;
    int code = 0;
    if (!server.listen(&why)) {
        std::fprintf(stderr, "vantor-server: %s\n", why.c_str());
        code = 1;
    } else if (cluster && !join_cluster(*cluster, flags, options, server.port())) {
        code = 1;
    } else {
        std::fprintf(stderr, "vantor-server: listening on %s port %u%s, a tick every %u ms, rooms on %u threads\n",
                     options.bind.c_str(), static_cast<unsigned>(server.port()),
                     options.tls_cert.empty() ? "" : " (https, wss)", static_cast<unsigned>(options.tick_ms),
                     static_cast<unsigned>(server.lanes()));
        if (!options.site.empty())
            std::fprintf(stderr, "vantor-server: serving the site %s: %s://%s:%u/\n", options.site.c_str(),
                         options.tls_cert.empty() ? "http" : "https",
                         options.bind == "0.0.0.0" || options.bind == "::" ? "HOST" : options.bind.c_str(),
                         static_cast<unsigned>(server.port()));
        // SIGINT and SIGTERM wait for a thread of their own, which stops the server as any thread may.
        std::thread waiter([&server, signals] {
            int signal = 0;
            sigwait(&signals, &signal);
            server.stop();
        });
        server.run();
        if (cluster) cluster->stop();
        // Stopped some other way, the waiter is woken to end as well.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        std::fprintf(stderr, "vantor-server: stopped\n");
    }
    // The working folder goes, unless a desync left its replays there.
    if (fs::path(options.desync_folder).is_relative()) fs::remove(fs::path(pattern) / options.desync_folder, ec);
    if (!fs::remove(pattern, ec) && fs::exists(pattern, ec))
        std::fprintf(stderr, "vantor-server: the replays of desyncs are kept in %s\n", pattern.c_str());
    return code;
}
