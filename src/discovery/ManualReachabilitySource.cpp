#include "discovery/ManualReachabilitySource.h"

#include "dispatch/SerialQueue.h"

namespace vistamo {

ManualReachabilitySource::ManualReachabilitySource(std::optional<ReachabilityFlags> flags)
    : flags_(flags) {}

void ManualReachabilitySource::setFlags(std::optional<ReachabilityFlags> flags) {
    std::lock_guard guard(lock_);
    flags_ = flags;
    if (queue_ != nullptr) {
        // Posting under the lock keeps the queue alive: stop, on that queue, waits for the lock,
        // and the watcher keeps its queue until stop has returned.
        queue_->async(
            [self = shared_from_this(), generation = generation_] { self->deliver(generation); });
    }
}

void ManualReachabilitySource::setStartFails(bool fails) {
    std::lock_guard guard(lock_);
    startFails_ = fails;
}

std::optional<ReachabilityFlags> ManualReachabilitySource::readFlags() {
    std::lock_guard guard(lock_);
    return flags_;
}

bool ManualReachabilitySource::start(dispatch::SerialQueue& queue, std::function<void()> changed) {
    std::lock_guard guard(lock_);
    ++generation_;
    if (startFails_) {
        queue_ = nullptr;
        changed_ = nullptr;
        return false;
    }
    queue_ = &queue;
    changed_ = std::move(changed);
    return true;
}

void ManualReachabilitySource::stop() {
    std::lock_guard guard(lock_);
    ++generation_;
    queue_ = nullptr;
    changed_ = nullptr;
}

void ManualReachabilitySource::deliver(uint64_t generation) {
    std::function<void()> changed;
    {
        std::lock_guard guard(lock_);
        // A change posted before a stop (or a restart) belongs to watching that has ended.
        if (generation != generation_ || !changed_) {
            return;
        }
        changed = changed_;
    }
    changed();
}

}  // namespace vistamo
