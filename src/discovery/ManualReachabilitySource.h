#pragma once

#include <memory>
#include <mutex>

#include "discovery/ReachabilitySource.h"

namespace vistamo {

// A reachability source whose state is set by hand: for tests, and for running without a
// kernel view of the network.
//
// Threads: setFlags and setStartFails from any thread; the ReachabilitySource operations on the
// watcher's queue. The lock is never held while calling out.
class ManualReachabilitySource final
    : public ReachabilitySource,
      public std::enable_shared_from_this<ManualReachabilitySource> {
public:
    explicit ManualReachabilitySource(std::optional<ReachabilityFlags> flags);

    // New flags (none: they cannot be read); a watcher that is watching hears of the change on
    // its queue, even when the flags stay the same.
    void setFlags(std::optional<ReachabilityFlags> flags);
    // Makes the next starts fail, as when the kernel refuses a socket.
    void setStartFails(bool fails);

    std::optional<ReachabilityFlags> readFlags() override;
    bool start(dispatch::SerialQueue& queue, std::function<void()> changed) override;
    void stop() override;

private:
    void deliver(uint64_t generation);

    std::mutex lock_;
    // Guarded by lock_.
    std::optional<ReachabilityFlags> flags_;
    bool startFails_ = false;
    dispatch::SerialQueue* queue_ = nullptr;  // set while watching
    std::function<void()> changed_;           // set while watching
    uint64_t generation_ = 0;                 // counts starts and stops
};

}  // namespace vistamo
