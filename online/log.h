// The server's log: lines of one kind beyond a few a window are counted and summarised rather than
// written, and the writing itself happens on a thread of its own, so that a slow reader of the log
// never holds up a room's tick.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace online {

using Sink = std::function<void(const std::string&)>;

// Lines of a kind (a refusal, a drop, a room's event) get kBurst lines a window of kWindowMs; the rest
// are counted, and when the window ends one line says how many were left out and shows the last.
class Log {
public:
    static constexpr int kBurst = 20;
    static constexpr int64_t kWindowMs = 10'000;

    explicit Log(Sink sink) : sink_(std::move(sink)) {}
    void line(const std::string& kind, const std::string& text, int64_t now);
    // Writes the summaries of the windows that have ended.
    void summarise(int64_t now);

private:
    struct Kind {
        int64_t start = 0;
        int written = 0;
        uint64_t left_out = 0;
        std::string last;
    };
    Sink sink_;
    std::map<std::string, Kind> kinds_;
};

// Hands lines to a writer on a thread of its own through a queue of at most kQueued lines; when the
// writer falls behind further, lines are lost, counted, and said to be so once it catches up.
class AsyncWriter {
public:
    static constexpr size_t kQueued = 4096;

    explicit AsyncWriter(Sink write);
    // Writes what is queued, then ends the thread.
    ~AsyncWriter();
    AsyncWriter(const AsyncWriter&) = delete;
    AsyncWriter& operator=(const AsyncWriter&) = delete;
    // Never waits for the writer.
    void put(std::string line);
    Sink sink() {
        return [this](const std::string& line) { put(line); };
    }

private:
    void run();
    Sink write_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::string> lines_;
    uint64_t lost_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace online
