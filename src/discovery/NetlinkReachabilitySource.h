#pragma once

#include <memory>

#include "discovery/NetlinkMessages.h"
#include "discovery/ReachabilitySource.h"
#include "platform/Bytes.h"

namespace vistamo {

class NetlinkSocket;

namespace dispatch {
class DescriptorWatch;
}

// The kernel's view of the network, read and watched over route netlink sockets. The network
// is reachable when a usable interface (LocalInterfaces::isUsableInterface) is up and running,
// has an address, and a route leaves through it: the default route or any other route on that
// interface. No other flag is ever set: there are no on-demand connections here.
//
// The sockets are opened on the calling thread, which is the watcher's queue: the source sees
// the network namespace that queue's thread lives in.
class NetlinkReachabilitySource final : public ReachabilitySource {
public:
    NetlinkReachabilitySource();
    ~NetlinkReachabilitySource() override;

    // Links, addresses and routes by one dump each, on a socket of its own.
    std::optional<ReachabilityFlags> readFlags() override;
    // Joins the link, address and route groups of both IP versions and watches the socket.
    bool start(dispatch::SerialQueue& queue, std::function<void()> changed) override;
    void stop() override;

    // The flags for a state as the kernel describes it. Addresses count for the IP version they
    // belong to: an IPv4 address with an IPv4 route, or an IPv6 address beyond link-local
    // scope with an IPv6 route beyond it.
    static ReachabilityFlags flagsForState(const NetworkSnapshot& state);

private:
    void readChanges();

    // The watcher's queue only.
    std::unique_ptr<NetlinkSocket> changes_;
    std::unique_ptr<dispatch::DescriptorWatch> watch_;
    std::function<void()> changed_;
    Bytes buffer_;
};

}  // namespace vistamo
