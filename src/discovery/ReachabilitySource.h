#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vistamo {

namespace dispatch {
class SerialQueue;
}

// Reachability flags, bit for bit those that the status function reads.
using ReachabilityFlags = uint32_t;
inline constexpr ReachabilityFlags kReachabilityFlagsReachable = 1u << 1;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr ReachabilityFlags kReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionOnDemand = 1u << 5;

// Where a Reachability watcher learns the state of the network: the kernel
// (NetlinkReachabilitySource), or a hand-set state in tests (ManualReachabilitySource).
//
// Threads: a source is made on any thread and handed to one watcher; from then on every
// operation below is called on that watcher's serial queue, and the source is released there.
// All three operations are required.
class ReachabilitySource {
public:
    virtual ~ReachabilitySource() = default;

    // The flags of the network as it is now; none when they cannot be read.
    virtual std::optional<ReachabilityFlags> readFlags() = 0;

    // Starts watching. Until `stop`, `changed` is called on `queue` (the watcher's queue, which
    // outlives the watching) whenever the state may have changed; a call when nothing changed is
    // allowed. False when watching cannot start; `changed` is then never called.
    virtual bool start(dispatch::SerialQueue& queue, std::function<void()> changed) = 0;

    // Stops watching: once it returns, `changed` is never called again. Harmless when not
    // watching.
    virtual void stop() = 0;
};

}  // namespace vistamo
