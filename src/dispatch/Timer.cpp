#include "dispatch/Timer.h"

#include <algorithm>
#include <chrono>

#include "dispatch/SerialQueue.h"

namespace vistamo::dispatch {

namespace {
// A wait longer than this (about 31 years) is cut to it, and one that is not a number counts as
// zero: converting such values to the clock's integer ticks would overflow.
constexpr double kLongestWaitSeconds = 1e9;
}  // namespace

Timer::Timer(SerialQueue& queue) : timer_(queue.context()) {}

Timer::~Timer() {
    *alive_ = false;
    timer_.cancel();
}

void Timer::start(double seconds, std::function<void()> fire) {
    const uint64_t generation = ++generation_;
    running_ = true;
    timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds > 0 ? std::min(seconds, kLongestWaitSeconds) : 0)));
    timer_.async_wait(
        [this, alive = alive_, generation, fire = std::move(fire)](const std::error_code& error) {
            if (error || !*alive || generation != generation_) {
                return;
            }
            running_ = false;
            fire();
        });
}

void Timer::cancel() {
    ++generation_;
    running_ = false;
    timer_.cancel();
}

}  // namespace vistamo::dispatch
