// A lost connection's tries: see rejoin.h.
#include "online/rejoin.h"

#include <algorithm>

namespace online {

void Rejoin::start(int64_t now) {
    lost_at_ = now;
    wait_ = kFirstWait;
    next_ = now + kFirstWait;
}

bool Rejoin::due(int64_t now, uint32_t random) {
    if (now < next_ || over(now)) return false;
    int64_t jitter = static_cast<int64_t>(random % static_cast<uint32_t>(wait_ / 2 + 1));
    next_ = now + std::min(kLongestWait, wait_ + jitter);
    wait_ = std::min(kLongestWait, wait_ * 2);
    return true;
}

int Rejoin::seconds_left(int64_t now) const {
    int64_t left = std::max<int64_t>(0, lost_at_ + kGiveUp - now);
    return static_cast<int>((left + 999) / 1000);
}

}  // namespace online
