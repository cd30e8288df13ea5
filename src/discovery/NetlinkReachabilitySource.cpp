#include "discovery/NetlinkReachabilitySource.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>

#include "discovery/LocalInterfaces.h"
#include "discovery/NetlinkSocket.h"
#include "dispatch/DescriptorWatch.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

// Datagrams read per wake-up; whatever is left wakes the watch again at once, so a flood of
// messages cannot hold the queue.
constexpr int kDatagramsPerWake = 64;

bool isLinkScope(const std::array<uint8_t, 16>& address) {
    return address[0] == 0xfe && (address[1] & 0xc0) == 0x80;
}

// A route that every IPv6 interface gets by itself (fe80::/64, multicast), leading nowhere
// beyond the link.
bool isLinkScopeRoute(const NetlinkRoute& route) {
    return route.family == AF_INET6 &&
           ((route.destinationLength >= 10 && isLinkScope(route.destination)) ||
            (route.destinationLength >= 8 && route.destination[0] == 0xff));
}

bool leavesThrough(const NetlinkRoute& route, int32_t index) {
    return route.type == RTN_UNICAST && route.table != RT_TABLE_LOCAL &&
           std::find(route.outputInterfaces.begin(), route.outputInterfaces.end(), index) !=
               route.outputInterfaces.end();
}

}  // namespace

NetlinkReachabilitySource::NetlinkReachabilitySource() = default;
NetlinkReachabilitySource::~NetlinkReachabilitySource() = default;

ReachabilityFlags NetlinkReachabilitySource::flagsForState(const NetworkSnapshot& state) {
    for (const NetlinkLink& link : state.links) {
        if (!LocalInterfaces::isUsableInterface(link.name, link.flags)) {
            continue;
        }
        bool hasIPv4 = false;
        bool hasIPv6 = false;
        for (const NetlinkAddress& address : state.addresses) {
            if (address.index != link.index) {
                continue;
            }
            hasIPv4 = hasIPv4 || address.family == AF_INET;
            hasIPv6 = hasIPv6 || (address.family == AF_INET6 && !isLinkScope(address.address));
        }
        for (const NetlinkRoute& route : state.routes) {
            if (!leavesThrough(route, link.index)) {
                continue;
            }
            if ((route.family == AF_INET && hasIPv4) ||
                (route.family == AF_INET6 && hasIPv6 && !isLinkScopeRoute(route))) {
                return kReachabilityFlagsReachable;
            }
        }
    }
    return 0;
}

std::optional<ReachabilityFlags> NetlinkReachabilitySource::readFlags() {
    const auto socket = NetlinkSocket::open(0);
    if (!socket) {
        return std::nullopt;
    }
    const auto state = socket->dumpNetworkState();
    if (!state) {
        return std::nullopt;
    }
    return flagsForState(*state);
}

bool NetlinkReachabilitySource::start(dispatch::SerialQueue& queue, std::function<void()> changed) {
    stop();
    changes_ = NetlinkSocket::open(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR |
                                   RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE);
    if (!changes_) {
        return false;
    }
    changed_ = std::move(changed);
    watch_ = std::make_unique<dispatch::DescriptorWatch>(queue, changes_->fd());
    watch_->waitReadable([this] { readChanges(); });
    return true;
}

void NetlinkReachabilitySource::stop() {
    // The watch goes before the socket whose descriptor it watches.
    watch_.reset();
    changes_.reset();
    changed_ = nullptr;
}

void NetlinkReachabilitySource::readChanges() {
    bool changed = false;
    bool failed = false;
    for (int i = 0; i < kDatagramsPerWake && !failed; ++i) {
        const NetlinkSocket::Received received = changes_->receive(buffer_);
        if (received == NetlinkSocket::Received::Nothing) {
            break;
        }
        if (received == NetlinkSocket::Received::Failed) {
            failed = true;
        } else if (received == NetlinkSocket::Received::Lost) {
            changed = true;  // whatever was lost may have been a change
        } else {
            NetlinkParse parse;
            parseNetlinkMessages(buffer_, std::nullopt, parse);
            changed = changed || parse.changes > 0 || parse.overrun;
        }
    }
    if (failed) {
        logLine("reachability: no more change messages from the kernel");
        watch_.reset();
    } else {
        watch_->waitReadable([this] { readChanges(); });
    }
    if (changed) {
        // A copy: the call may stop this source.
        const auto notify = changed_;
        notify();
    }
}

}  // namespace vistamo
