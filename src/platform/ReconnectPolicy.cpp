#include "platform/ReconnectPolicy.h"

#include <algorithm>
#include <random>

namespace vistamo {

ReconnectPolicy::ReconnectPolicy()
    : ReconnectPolicy(
          [engine = std::mt19937(std::random_device{}())]() mutable {
              return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
          },
          [] { return Clock::now(); }) {}

ReconnectPolicy::ReconnectPolicy(std::function<double()> random,
                                 std::function<Clock::time_point()> now)
    : random_(std::move(random)), now_(std::move(now)) {}

void ReconnectPolicy::dropped() {
    if (!droppedAt_) {
        droppedAt_ = now_();
        attempts_ = 0;
    }
}

std::optional<ReconnectPolicy::Clock::duration> ReconnectPolicy::nextWait() {
    if (!droppedAt_ || now_() - *droppedAt_ >= kGiveUpAfter) {
        return std::nullopt;
    }
    // Doubling stops at the longest wait long before the shift could overflow.
    const int doublings = std::min(attempts_, 16);
    ++attempts_;
    const auto base =
        std::min<std::chrono::milliseconds>(kFirstWait * (1 << doublings), kLongestWait);
    const double r = std::clamp(random_ ? random_() : 0.5, 0.0, 1.0);
    const double factor = 1.0 + kJitter * (2.0 * r - 1.0);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(static_cast<double>(base.count()) * factor));
}

void ReconnectPolicy::succeeded() {
    droppedAt_.reset();
    attempts_ = 0;
}

}  // namespace vistamo
