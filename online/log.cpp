// The server's log: see log.h.
#include "online/log.h"

namespace online {

void Log::line(const std::string& kind, const std::string& text, int64_t now) {
    if (!sink_) return;
    summarise(now);
    Kind& k = kinds_[kind];
    if (k.written == 0 && k.left_out == 0) k.start = now;
    if (k.written < kBurst) {
        k.written++;
        sink_(text);
        return;
    }
    k.left_out++;
    k.last = text;
}

void Log::summarise(int64_t now) {
    if (!sink_) return;
    for (auto it = kinds_.begin(); it != kinds_.end();) {
        Kind& k = it->second;
        if (now - k.start < kWindowMs) {
            ++it;
            continue;
        }
        if (k.left_out > 0)
            sink_(std::to_string(k.left_out) + " more lines of the kind '" + it->first +
                  "' left out, the last: " + k.last);
        it = kinds_.erase(it);
    }
}

AsyncWriter::AsyncWriter(Sink write) : write_(std::move(write)), thread_([this] { run(); }) {}

AsyncWriter::~AsyncWriter() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void AsyncWriter::put(std::string line) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (lines_.size() >= kQueued) {
            lost_++;
            return;
        }
        lines_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void AsyncWriter::run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return ending_ || !lines_.empty(); });
        if (lines_.empty()) return;
        std::deque<std::string> batch;
        batch.swap(lines_);
        uint64_t lost = lost_;
        lost_ = 0;
        hold.unlock();
        for (const std::string& line : batch) write_(line);
        if (lost > 0) write_(std::to_string(lost) + " lines lost: the log was not read fast enough");
        hold.lock();
    }
}

}  // namespace online
