#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vistamo {

// This computer's addresses on the interfaces that can reach cameras, and the choice of the one
// address discovery works over.
//
// A usable interface is up, running, multicast-capable, not loopback and not virtual by name
// (docker*, br-*, veth*, virbr*, vmnet*, vboxnet*, tun*, tap*, wg*, zt*, tailscale*). The
// interface of the default route comes first, then the others in the system's order.
// Stateless; callable from any thread.
// Everything is read in the calling thread's network namespace.
class LocalInterfaces {
public:
    // Appends every address of the given version (4 or 6) of every usable interface to `list`,
    // in the system's order, and returns the last one appended. Text as inet_ntop gives it,
    // without a scope suffix.
    static std::optional<std::string> appendUsableAddresses(int ipVersion,
                                                            std::vector<std::string>& list);

    // The address discovery works over, and with it the IP version in `ipType` (0 IPv4, 1 IPv6).
    // Link-local addresses (169.254.x.x, fe80::/10) are passed over while another will do; the
    // IPv6 list only counts when it holds more than two addresses. Where no usable address of
    // a counting IPv6 list exists, the result is none and `ipType` keeps its value.
    static std::optional<std::string> getValidIP(const std::vector<std::string>& ipv4List,
                                                 const std::vector<std::string>& ipv6List,
                                                 bool ipv4HasPriority, int32_t& ipType);

    // The usable interfaces, default-route interface first.
    static std::vector<std::string> usableInterfaceNames();

    // True for an interface name that never counts (loopback or virtual by name).
    static bool isVirtualInterfaceName(const std::string& name);

    // True for an interface with this name and these flags (IFF_*) that counts.
    static bool isUsableInterface(const std::string& name, unsigned flags);

    // One entry of the host's interface address list: an interface with one of its addresses,
    // or with none (then `family` is neither AF_INET nor AF_INET6 and `address` is empty).
    struct InterfaceAddress {
        std::string name;
        unsigned flags = 0;
        int family = 0;
        std::string address;
    };

    // The steps of the functions above, apart so they can be checked on a given list.
    // The host's interface address list, in the system's order; none when it cannot be read.
    static std::optional<std::vector<InterfaceAddress>> interfaceAddresses();
    // The name of the interface of the IPv4 default route; empty when there is none.
    static std::string defaultRouteInterface();
    static std::vector<std::string> usableInterfaceNames(
        const std::vector<InterfaceAddress>& entries, const std::string& defaultRouteInterface);
    static std::optional<std::string> collectAddresses(const std::vector<InterfaceAddress>& entries,
                                                       const std::string& defaultRouteInterface,
                                                       int ipVersion,
                                                       std::vector<std::string>& list);
};

}  // namespace vistamo
