#include "platform/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <memory>

namespace vistamo {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

HostLookup loopbackAddresses(uint16_t port) {
    HostLookup result;
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    result.address4 = address4;
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(port);
    address6.sin6_addr = in6addr_loopback;
    result.address6 = address6;
    return result;
}

}  // namespace

Error netDBError(int gaiCode) {
    return Error{kNetDBErrorDomain, gaiCode, ::gai_strerror(gaiCode), {}};
}

HostLookup lookupHost(const std::string& host, uint16_t port, int socketType) {
    if (host == "localhost" || host == "loopback") {
        return loopbackAddresses(port);
    }
    HostLookup result;
    // A name from the network with a NUL inside would otherwise resolve as its prefix.
    if (host.find('\0') != std::string::npos) {
        result.error = netDBError(EAI_NONAME);
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_protocol = socketType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
    if (status != 0) {
        result.error = netDBError(status);
        return result;
    }
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && !result.address4 &&
            entry->ai_addrlen == sizeof(sockaddr_in)) {
            sockaddr_in address{};
            std::memcpy(&address, entry->ai_addr, sizeof address);
            result.address4 = address;
        } else if (entry->ai_family == AF_INET6 && !result.address6 &&
                   entry->ai_addrlen == sizeof(sockaddr_in6)) {
            sockaddr_in6 address{};
            std::memcpy(&address, entry->ai_addr, sizeof address);
            result.address6 = address;
        }
    }
    return result;
}

std::string numericHost(const sockaddr* address, socklen_t length) {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
        return {};
    }
    return text;
}

}  // namespace vistamo
