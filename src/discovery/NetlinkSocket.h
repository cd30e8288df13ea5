#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "discovery/NetlinkMessages.h"
#include "platform/Bytes.h"

namespace vistamo {

// A route netlink socket (NETLINK_ROUTE): dumps of the kernel's interfaces, addresses and routes,
// and the kernel's change messages for the groups it joined. It lives in the network namespace
// of the thread that opens it, whatever thread uses it later.
//
// Threads: used by one thread at a time (its owner's queue). Every wait is bounded.
class NetlinkSocket {
    struct Private {
        explicit Private() = default;
    };

public:
    // Bound to the multicast `groups` (RTMGRP_* bits; 0 for a socket that only dumps).
    // Non-blocking and close-on-exec. None when the kernel refuses (logged).
    static std::unique_ptr<NetlinkSocket> open(uint32_t groups);
    ~NetlinkSocket();

    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    int fd() const { return fd_; }

    enum class Received {
        Datagram,  // `buffer` holds one datagram from the kernel
        Nothing,   // nothing is waiting
        Lost,      // the kernel dropped messages, or one did not fit the buffer
        Failed,    // the socket cannot be read any more (logged)
    };

    // Reads one waiting datagram without blocking; `buffer` is resized to its length.
    // Datagrams that do not come from the kernel are dropped unread (a few at a time: Nothing
    // can come back while more are waiting).
    Received receive(Bytes& buffer);

    // The links, addresses and routes of every family, by one dump of each; none when a dump
    // fails, is larger than 64 MiB, or does not end within a few seconds (logged).
    std::optional<NetworkSnapshot> dumpNetworkState();

    // Takes over `fd`; made by `open` only.
    NetlinkSocket(Private, int fd) : fd_(fd) {}

private:
    bool dump(uint16_t requestType, NetworkSnapshot& into);
    bool dumpOnce(uint16_t requestType, NetworkSnapshot& into, bool& inconsistent);

    const int fd_;
    uint32_t sequence_ = 0;
    Bytes buffer_;
};

}  // namespace vistamo
