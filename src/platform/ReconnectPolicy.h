#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace vistamo {

// When a connection that dropped is tried again (a camera window's session, a publisher's
// media server): the first wait is 0.5 s, each further one twice the last up to 10 s, every
// wait shifted by up to a fifth either way so that connections dropped together do not knock
// in step; 5 minutes after the drop it gives up.
//
// Pure: the time and the randomness (numbers in [0, 1)) come from sources given at
// construction. Not thread-safe: one thread uses it (a camera window's main thread, a
// publisher's queue).
class ReconnectPolicy {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFirstWait{500};
    static constexpr std::chrono::milliseconds kLongestWait{10000};
    static constexpr double kJitter = 0.2;
    static constexpr std::chrono::minutes kGiveUpAfter{5};

    // Default randomness: a generator seeded from the system; default time: the steady clock.
    ReconnectPolicy();
    ReconnectPolicy(std::function<double()> random, std::function<Clock::time_point()> now);

    // The connection dropped now; nothing when a drop is already being handled.
    void dropped();
    // The wait before the next attempt, or none once kGiveUpAfter has passed since the drop.
    std::optional<Clock::duration> nextWait();
    // The connection is back: the next drop starts from the first wait again.
    void succeeded();

    bool reconnecting() const { return droppedAt_.has_value(); }
    int attempts() const { return attempts_; }

private:
    std::function<double()> random_;
    std::function<Clock::time_point()> now_;
    std::optional<Clock::time_point> droppedAt_;
    int attempts_ = 0;
};

}  // namespace vistamo
