// What the cluster's directory costs a call, against a running Redis on the loopback: the lease's
// renewal, an input journaled, a snapshot written, a room's journal read back, a takeover, and where
// a room lives (docs/ONLINE.md, More than one process).
//   directory_calls --port P [--calls N] [--snapshot-bytes B] [--input-bytes B]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "online/directory.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int port = 0;
    int calls = 2000;
    size_t snapshot_bytes = 64 * 1024;
    size_t input_bytes = 16;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        long value = std::strtol(argv[i + 1], nullptr, 10);
        if (!std::strcmp(argv[i], "--port") && value > 0 && value < 65536) options.port = static_cast<int>(value);
        else if (!std::strcmp(argv[i], "--calls") && value > 0 && value <= 1000000)
            options.calls = static_cast<int>(value);
        else if (!std::strcmp(argv[i], "--snapshot-bytes") && value > 0 && value <= 64 << 20)
            options.snapshot_bytes = static_cast<size_t>(value);
        else if (!std::strcmp(argv[i], "--input-bytes") && value > 0 && value <= 1 << 20)
            options.input_bytes = static_cast<size_t>(value);
        else return false;
    }
    return argc % 2 == 1 && options.port > 0;
}

// Times `calls` calls of one kind; fails on the first that does not answer ok.
bool measure(const char* what, int calls, const std::function<online::Outcome(int)>& call) {
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        auto start = Clock::now();
        auto outcome = call(i);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (outcome != online::Outcome::ok) {
            std::fprintf(stderr, "directory_calls: %s: %s\n", what, online::to_string(outcome));
            return false;
        }
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double share) { return micros[static_cast<size_t>(share * (micros.size() - 1))]; };
    std::printf("%-28s %8d calls   p50 %7.1f us   p99 %7.1f us   max %7.1f us\n", what, calls, at(0.5), at(0.99),
                micros.back());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: directory_calls --port P [--calls N] [--snapshot-bytes B] [--input-bytes B]\n");
        return 2;
    }
    // Processes numbered far from any real cluster's, and a lease long enough for the run.
    online::Directory owner({.port = options.port, .process = 9001, .lease = std::chrono::hours(1)});
    online::Directory taker({.port = options.port, .process = 9002, .lease = std::chrono::hours(1)});
    if (owner.acquire() != online::Outcome::ok || taker.acquire() != online::Outcome::ok) {
        std::fprintf(stderr, "directory_calls: no lease from Redis on 127.0.0.1:%d: %s\n", options.port,
                     owner.error().c_str());
        return 1;
    }
    const std::string room = "BENCH", input(options.input_bytes, 'i'), snapshot(options.snapshot_bytes, 's');
    const int calls = options.calls;
    auto code = [](int i) { return "BENCH" + std::to_string(i); };
    online::Journal journal;
    bool ok =
        owner.put_room(room, {"a", "b", "c", "d"}) == online::Outcome::ok &&
        measure("renew", calls, [&](int) { return owner.renew(); }) &&
        measure("append_input", calls, [&](int) { return owner.append_input(room, input); }) &&
        measure(("journal, " + std::to_string(calls) + " inputs").c_str(), 20,
                [&](int) { return owner.journal(room, journal); }) &&
        measure("write_snapshot", std::min(calls, 500), [&](int) { return owner.write_snapshot(room, snapshot); }) &&
        measure("put_room", calls,
                [&](int i) {
                    return owner.put_room(code(i), {"a", "b", "c", "d"});
                }) &&
        measure("whereabouts", calls, [&](int i) {
            online::Whereabouts where;
            return taker.whereabouts(code(i), where);
        });
    // The owner goes: the taker takes every room over, one script each.
    owner.close_room(room);
    ok = ok && owner.release() == online::Outcome::ok && measure("take_over", calls, [&](int i) {
             std::int64_t epoch = 0;
             return taker.take_over(code(i), 1, epoch);
         });
    for (int i = 0; i < calls; ++i) taker.close_room(code(i));
    taker.release();
    return ok ? 0 : 1;
}
