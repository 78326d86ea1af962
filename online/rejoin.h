// When a session whose connection dropped tries again, with no clock of its own: the time and a random
// number are handed in, so that a test can drive it tick by tick. The first try comes half a second
// after the loss; each wait after it doubles, up to 5 s, and is drawn between itself and half as much
// again, so that a room's players cut at once do not all knock at the same instant. Sixty seconds
// after the loss it gives up.
#pragma once

#include <cstdint>

namespace online {

class Rejoin {
public:
    static constexpr int64_t kFirstWait = 500, kLongestWait = 5000, kGiveUp = 60000;

    // The connection was lost at now (ms on any steady clock): the tries begin.
    void start(int64_t now);
    // Whether a try is due at now; when it is, the next one is scheduled with the random number.
    bool due(int64_t now, uint32_t random);
    // The next try comes at the next due(), as when the page comes back to the foreground.
    void hurry() { next_ = lost_at_; }
    bool over(int64_t now) const { return now >= lost_at_ + kGiveUp; }
    // Whole seconds until it gives up, rounded up.
    int seconds_left(int64_t now) const;

private:
    int64_t lost_at_ = 0;
    int64_t next_ = 0;
    int64_t wait_ = kFirstWait;
};

}  // namespace online
