#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vistamo::test {

// A socket address in the bytes the kernel uses (sockaddr_in6 for an IPv6 literal, else
// sockaddr_in), as a UDP socket hands a sender's address over.
Bytes socketAddress(const std::string& host, uint16_t port);

// A plain datagram socket driven by hand, standing in for a camera or a peer of the socket under
// test. Made in the network namespace it is to work in. Threads: one at a time.
class DatagramSocket {
public:
    struct Datagram {
        Bytes data;
        std::string from;  // "ADDR:PORT"
    };

    // Unbound IPv4: the first send binds it.
    DatagramSocket();
    // Bound to `address` (IPv4 or IPv6 literal) and `port`; a given port is shared with other
    // sockets (SO_REUSEADDR, SO_REUSEPORT), 0 picks a free one.
    DatagramSocket(const std::string& address, uint16_t port);
    ~DatagramSocket();
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Joins IPv4 multicast `group` on the interface that has `interfaceAddress`.
    bool joinGroup(const std::string& group, const std::string& interfaceAddress);
    uint16_t port() const;
    // Sends `bytes` as one datagram; checks that all of them went.
    void send(ByteView bytes, const std::string& host, uint16_t port);
    // The next datagram; none when nothing comes within a generous bound.
    std::optional<Datagram> receive();

private:
    int fd_ = -1;
};

}  // namespace vistamo::test
