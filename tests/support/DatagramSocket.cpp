#include "support/DatagramSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace vistamo::test {

namespace {

const sockaddr* asSockaddr(const Bytes& address) {
    return reinterpret_cast<const sockaddr*>(address.data());
}

}  // namespace

Bytes socketAddress(const std::string& host, uint16_t port) {
    sockaddr_in6 address6{};
    if (::inet_pton(AF_INET6, host.c_str(), &address6.sin6_addr) == 1) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address6);
        return Bytes(bytes, bytes + sizeof address6);
    }
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &address4.sin_addr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&address4);
    return Bytes(bytes, bytes + sizeof address4);
}

DatagramSocket::DatagramSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

DatagramSocket::DatagramSocket(const std::string& address, uint16_t port) {
    const Bytes local = socketAddress(address, port);
    fd_ = ::socket(asSockaddr(local)->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Never on a port the kernel picks: it could pick one a sharing socket already holds.
    const int on = 1;
    if (port != 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    }
    EXPECT_EQ(::bind(fd_, asSockaddr(local), static_cast<socklen_t>(local.size())), 0)
        << address << " " << port << ": " << std::strerror(errno);
}

DatagramSocket::~DatagramSocket() { ::close(fd_); }

bool DatagramSocket::joinGroup(const std::string& group, const std::string& interfaceAddress) {
    ip_mreqn request{};
    ::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr);
    ::inet_pton(AF_INET, interfaceAddress.c_str(), &request.imr_address);
    return ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

uint16_t DatagramSocket::port() const {
    // The port of a sockaddr_in and of a sockaddr_in6 sit at the same place.
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

void DatagramSocket::send(ByteView bytes, const std::string& host, uint16_t port) {
    const Bytes to = socketAddress(host, port);
    EXPECT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, asSockaddr(to),
                       static_cast<socklen_t>(to.size())),
              static_cast<ssize_t>(bytes.size()))
        << std::strerror(errno);
}

std::optional<DatagramSocket::Datagram> DatagramSocket::receive() {
    pollfd entry{fd_, POLLIN, 0};
    Bytes data(65536);
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const ssize_t got = ::poll(&entry, 1, 10000) != 1
                            ? -1
                            : ::recvfrom(fd_, data.data(), data.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
        return std::nullopt;
    }
    data.resize(static_cast<size_t>(got));
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    ::getnameinfo(reinterpret_cast<sockaddr*>(&from), length, host, sizeof host, service,
                  sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
    return Datagram{std::move(data), std::string(host) + ":" + service};
}

}  // namespace vistamo::test
