// Setup of a UdpSocket: its errors, interface and host addresses, binding, joining
// groups and opening descriptors. The rest of the class is in UdpSocket.cpp.
#include "discovery/UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace vistamo {

namespace {

Error badConfig(std::string text) {
    return gcdAsyncUdpSocketError(UdpSocketError::BadConfigError, std::move(text));
}

Error badParam(std::string text) {
    return gcdAsyncUdpSocketError(UdpSocketError::BadParamError, std::move(text));
}

uint16_t boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET) {
        sockaddr_in address4{};
        std::memcpy(&address4, &address, sizeof address4);
        return ntohs(address4.sin_port);
    }
    sockaddr_in6 address6{};
    std::memcpy(&address6, &address, sizeof address6);
    return ntohs(address6.sin6_port);
}

// ---- Interfaces ---------------------------------------------------------------------------

// The addresses an interface description stands for, with their interface indexes.
struct InterfaceAddresses {
    std::optional<sockaddr_in> address4;
    std::optional<sockaddr_in6> address6;
    unsigned index4 = 0;  // 0: the system chooses
    unsigned index6 = 0;
};

struct NumericAddress {
    std::optional<in_addr> v4;
    std::optional<in6_addr> v6;
};

NumericAddress parseNumeric(const std::string& text) {
    NumericAddress result;
    if (text.find('\0') != std::string::npos) {
        return result;
    }
    in_addr address4{};
    if (::inet_pton(AF_INET, text.c_str(), &address4) == 1) {
        result.v4 = address4;
        return result;
    }
    // A scope suffix ("fe80::1%eth0") does not take part in the comparison.
    const std::string bare = text.substr(0, text.find('%'));
    in6_addr address6{};
    if (::inet_pton(AF_INET6, bare.c_str(), &address6) == 1) {
        result.v6 = address6;
    }
    return result;
}

// Takes, for each family, the first address of this machine that belongs to the interface
// `name` or equals `wanted`.
void scanInterfaces(const std::string& name, const NumericAddress& wanted, uint16_t port,
                    InterfaceAddresses& found) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return;
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr) {
            continue;
        }
        const bool named = !name.empty() && name == entry->ifa_name;
        if (entry->ifa_addr->sa_family == AF_INET && !found.address4) {
            sockaddr_in address{};
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (named || (wanted.v4 && wanted.v4->s_addr == address.sin_addr.s_addr)) {
                address.sin_port = htons(port);
                found.address4 = address;
                found.index4 = ::if_nametoindex(entry->ifa_name);
            }
        } else if (entry->ifa_addr->sa_family == AF_INET6 && !found.address6) {
            sockaddr_in6 address{};
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (named || (wanted.v6 && std::memcmp(&*wanted.v6, &address.sin6_addr,
                                                   sizeof address.sin6_addr) == 0)) {
                address.sin6_port = htons(port);
                address.sin6_flowinfo = 0;
                found.address6 = address;
                found.index6 = ::if_nametoindex(entry->ifa_name);
            }
        }
    }
}

// The wildcard addresses for an empty description, otherwise the addresses of the interface it
// names or whose address it gives; none when no interface matches.
std::optional<InterfaceAddresses> lookupInterface(const std::string& description, uint16_t port) {
    InterfaceAddresses found;
    if (description.empty()) {
        sockaddr_in any4{};
        any4.sin_family = AF_INET;
        any4.sin_port = htons(port);
        any4.sin_addr.s_addr = htonl(INADDR_ANY);
        sockaddr_in6 any6{};
        any6.sin6_family = AF_INET6;
        any6.sin6_port = htons(port);
        any6.sin6_addr = in6addr_any;
        found.address4 = any4;
        found.address6 = any6;
        return found;
    }
    if (description == "localhost" || description == "loopback") {
        NumericAddress loopback;
        loopback.v4 = in_addr{htonl(INADDR_LOOPBACK)};
        loopback.v6 = in6addr_loopback;
        scanInterfaces({}, loopback, port, found);
    } else {
        scanInterfaces(description, parseNumeric(description), port, found);
    }
    if (!found.address4 && !found.address6) {
        return std::nullopt;
    }
    return found;
}

}  // namespace

Error gcdAsyncUdpSocketError(UdpSocketError code, std::string text) {
    switch (code) {
        case UdpSocketError::SendTimeoutError:
            text = "Send operation timed out";
            break;
        case UdpSocketError::ClosedError:
            text = "Socket closed";
            break;
        case UdpSocketError::BadConfigError:
        case UdpSocketError::BadParamError:
        case UdpSocketError::OtherError:
            break;
    }
    return Error{kUdpSocketErrorDomain, static_cast<long>(code), std::move(text), {}};
}

bool UdpSocket::report(const std::optional<Error>& failure, Error* error) {
    if (failure && error != nullptr) {
        *error = *failure;
    }
    return !failure;
}

// ---- Public operations --------------------------------------------------------------------

bool UdpSocket::bindToPort(uint16_t port, Error* error) {
    return bindToPort(port, std::string(), error);
}

bool UdpSocket::bindToPort(uint16_t port, const std::string& interface, Error* error) {
    std::optional<Error> failure;
    socketQueue->sync([&] { failure = doBind(port, interface); });
    return report(failure, error);
}

bool UdpSocket::joinMulticastGroup(const std::string& group, const std::string& interface,
                                   Error* error) {
    std::optional<Error> failure;
    socketQueue->sync([&] { failure = doJoin(group, interface); });
    return report(failure, error);
}

uint16_t UdpSocket::localPort() {
    return socketQueue->syncResult([this]() -> uint16_t {
        if ((flags & kBound) == 0) {
            return 0;
        }
        const Descriptor& descriptor = socket4.isOpen() ? socket4 : socket6;
        return descriptor.isOpen() ? boundPort(descriptor.fd) : 0;
    });
}

bool UdpSocket::getHost(std::string* host, uint16_t* port, ByteView address) {
    sa_family_t family = AF_UNSPEC;
    if (address.size() < sizeof family) {
        return false;
    }
    std::memcpy(&family, address.data(), sizeof family);
    if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) {
        sockaddr_in address4{};
        std::memcpy(&address4, address.data(), sizeof address4);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &address4.sin_addr, text, sizeof text) == nullptr) {
            return false;
        }
        if (host != nullptr) {
            *host = text;
        }
        if (port != nullptr) {
            *port = ntohs(address4.sin_port);
        }
        return true;
    }
    if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 address6{};
        std::memcpy(&address6, address.data(), sizeof address6);
        char text[INET6_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET6, &address6.sin6_addr, text, sizeof text) == nullptr) {
            return false;
        }
        if (host != nullptr) {
            *host = text;
        }
        if (port != nullptr) {
            *port = ntohs(address6.sin6_port);
        }
        return true;
    }
    return false;
}

bool UdpSocket::isIPv6Address(ByteView address) {
    sa_family_t family = AF_UNSPEC;
    if (address.size() < sizeof(sockaddr_in6)) {
        return false;
    }
    std::memcpy(&family, address.data(), sizeof family);
    return family == AF_INET6;
}

// ---- Setup --------------------------------------------------------------------------------

std::optional<Error> UdpSocket::preOperationCheck() const {
    if (delegate.expired()) {
        return badConfig("Attempting to use socket without a delegate. Set a delegate first.");
    }
    if (!delegateQueue) {
        return badConfig(
            "Attempting to use socket without a delegate queue. Set a delegate queue first.");
    }
    return std::nullopt;
}

std::optional<Error> UdpSocket::doBind(uint16_t port, const std::string& interface) {
    if (auto failure = preOperationCheck()) {
        return failure;
    }
    if ((flags & kBound) != 0) {
        return badConfig("Cannot bind a socket more than once.");
    }
    if ((config & kIPv4Disabled) != 0 && (config & kIPv6Disabled) != 0) {
        return badConfig(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    }
    const auto found = lookupInterface(interface, port);
    if (!found) {
        return badParam(
            "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
    const bool use4 = found->address4 && (config & kIPv4Disabled) == 0;
    const bool use6 = found->address6 && (config & kIPv6Disabled) == 0;
    if (!use4 && !use6) {
        return badParam(
            (config & kIPv4Disabled) != 0
                ? "IPv4 has been disabled and specified interface doesn't support IPv6."
                : "IPv6 has been disabled and specified interface doesn't support IPv4.");
    }

    // A send may have opened descriptors before its datagram went out: bind those, and on
    // failure close only what this bind opened.
    const bool had4 = socket4.isOpen();
    const bool had6 = socket6.isOpen();
    const auto fail = [&](Error error) -> std::optional<Error> {
        if (!had4) {
            socket4.reset();
        }
        if (!had6) {
            socket6.reset();
        }
        if (!socket4.isOpen() && !socket6.isOpen()) {
            flags &= ~kSocketsCreated;
        }
        return error;
    };
    if (auto failure = createSockets(use4, use6)) {
        return fail(*failure);
    }
    uint16_t port6 = port;
    if (use4) {
        const sockaddr_in address = *found->address4;
        if (::bind(socket4.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return fail(posixError(errno, "Error in bind() function"));
        }
        // One port for both families when the system picks it.
        if (port == 0) {
            port6 = boundPort(socket4.fd);
        }
    }
    if (use6) {
        sockaddr_in6 address = *found->address6;
        address.sin6_port = htons(port6);
        if (::bind(socket6.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return fail(posixError(errno, "Error in bind() function"));
        }
    }
    flags |= kBound;
    if (!use4) {
        deactivate(AF_INET);
    }
    if (!use6) {
        deactivate(AF_INET6);
    }
    return std::nullopt;
}

std::optional<Error> UdpSocket::doJoin(const std::string& group, const std::string& interface) {
    if (auto failure = preOperationCheck()) {
        return failure;
    }
    if ((flags & kBound) == 0) {
        return badConfig("Must bind a socket before joining a multicast group.");
    }
    const NumericAddress groupAddress = parseNumeric(group);
    if (!groupAddress.v4 && !groupAddress.v6) {
        return badParam("Unknown group. Specify valid group IP address.");
    }
    const auto found = lookupInterface(interface, 0);
    if (!found) {
        return badParam(
            "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
    // After the join, datagrams to the group leave by the interface joined on rather than by
    // the default route's, which on a host with several interfaces may not be the cameras'.
    if (groupAddress.v4 && socket4.isOpen() && found->address4) {
        ip_mreqn request{};
        request.imr_multiaddr = *groupAddress.v4;
        request.imr_address = found->address4->sin_addr;
        request.imr_ifindex = static_cast<int>(found->index4);
        if (::setsockopt(socket4.fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) !=
                0 ||
            (!interface.empty() && ::setsockopt(socket4.fd, IPPROTO_IP, IP_MULTICAST_IF, &request,
                                                sizeof request) != 0)) {
            return posixError(errno, "Error in setsockopt() function");
        }
        deactivate(AF_INET6);
        return std::nullopt;
    }
    if (groupAddress.v6 && socket6.isOpen() && found->address6) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = *groupAddress.v6;
        request.ipv6mr_interface = found->index6;
        const int index = static_cast<int>(found->index6);
        if (::setsockopt(socket6.fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) !=
                0 ||
            (index != 0 && ::setsockopt(socket6.fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index,
                                        sizeof index) != 0)) {
            return posixError(errno, "Error in setsockopt() function");
        }
        deactivate(AF_INET);
        return std::nullopt;
    }
    return badParam("Socket, group, and interface do not have matching IP versions");
}

std::optional<Error> UdpSocket::createSockets(bool use4, bool use6) {
    if (use4 && !socket4.isOpen()) {
        if (auto failure = createSocket(socket4, AF_INET)) {
            return failure;
        }
        flags |= kSocketsCreated;
    }
    if (use6 && !socket6.isOpen()) {
        if (auto failure = createSocket(socket6, AF_INET6)) {
            return failure;
        }
        flags |= kSocketsCreated;
    }
    return std::nullopt;
}

std::optional<Error> UdpSocket::createSocket(Descriptor& into, int family) {
    into.fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (into.fd == -1) {
        return posixError(errno, "Error in socket() function");
    }
    const auto fail = [&into](const char* reason) {
        const int code = errno;
        into.reset();
        return posixError(code, reason);
    };
    const int fileFlags = ::fcntl(into.fd, F_GETFL);
    if (fileFlags == -1 || ::fcntl(into.fd, F_SETFL, fileFlags | O_NONBLOCK) == -1) {
        return fail("Error enabling non-blocking IO on socket (fcntl)");
    }
    // Datagram sockets share a port when all of them ask for address reuse; asking for port
    // reuse as well lets this one share with a socket that asked only for that.
    const int on = 1;
    if (::setsockopt(into.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(into.fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) {
        return fail("Error enabling address reuse (setsockopt)");
    }
    // Each family has a descriptor of its own; IPv4 must not arrive here as mapped addresses.
    if (family == AF_INET6 &&
        ::setsockopt(into.fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        return fail("Error in setsockopt() function");
    }
    // SIGPIPE: every send passes MSG_NOSIGNAL.
    try {
        into.watch = std::make_unique<dispatch::DescriptorWatch>(*socketQueue, into.fd);
    } catch (const std::system_error& failure) {
        into.reset();
        return posixError(failure.code().value(), "Error in socket() function");
    }
    return std::nullopt;
}

// ---- Names ----------------------------------------------------------------------------------

UdpSocket::Resolution UdpSocket::resolveHost(const std::string& host, uint16_t port) {
    const HostLookup lookup = lookupHost(host, port, SOCK_DGRAM);
    Resolution result{lookup.address4, lookup.address6, lookup.error};
    if (!result.error && !result.address4 && !result.address6) {
        result.error = netDBError(EAI_NONAME);
    }
    return result;
}

}  // namespace vistamo
