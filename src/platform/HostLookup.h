#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace vistamo {

// The domain of the resolver's errors; the code is getaddrinfo's, the text gai_strerror's.
inline constexpr const char* kNetDBErrorDomain = "host lookup";

Error netDBError(int gaiCode);

// What a host name resolves to: the first IPv4 and the first IPv6 address in the resolver's
// order, each with the port filled in, or the resolver's error. Neither address and no error:
// the name exists but has no address of either family.
struct HostLookup {
    std::optional<sockaddr_in> address4;
    std::optional<sockaddr_in6> address6;
    // Set when resolution failed; no address is set then.
    std::optional<Error> error;
};

// Resolves `host` for a socket of `socketType` (SOCK_STREAM or SOCK_DGRAM) to `port`.
// "localhost" and "loopback" give 127.0.0.1 and ::1 without asking the resolver; anything else
// goes to the system resolver, which may wait on the network, so this blocks: call it off any
// queue that must stay responsive.
HostLookup lookupHost(const std::string& host, uint16_t port, int socketType);

// The numeric text of an IPv4 or IPv6 address ("127.0.0.1", "::1", "fe80::1%eth0").
std::string numericHost(const sockaddr* address, socklen_t length);

}  // namespace vistamo
