#include "discovery/NetlinkSocket.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/Log.h"

namespace vistamo {

namespace {

// Link dumps carry statistics and can come in datagrams of up to 32 KiB.
constexpr size_t kDatagramBytes = 64 * 1024;
// A dump bigger than this is not a desktop's; it is abandoned rather than held in memory.
constexpr size_t kMaxDumpBytes = 64 * 1024 * 1024;
constexpr auto kDumpTime = std::chrono::seconds(5);
// Reads per receive call, counting interrupted ones and datagrams from senders other than the
// kernel.
constexpr int kReadAttempts = 16;
// A dump that the kernel marks inconsistent (the tables changed meanwhile) is asked for again.
constexpr int kDumpAttempts = 3;

void logFailure(const std::string& what, int error) {
    logLine("netlink: " + what + ": " + std::strerror(error));
}

}  // namespace

std::unique_ptr<NetlinkSocket> NetlinkSocket::open(uint32_t groups) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        logFailure("cannot open a route socket", errno);
        return nullptr;
    }
    auto socket = std::make_unique<NetlinkSocket>(Private(), fd);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        logFailure("cannot bind a route socket", errno);
        return nullptr;
    }
    return socket;
}

NetlinkSocket::~NetlinkSocket() { ::close(fd_); }

NetlinkSocket::Received NetlinkSocket::receive(Bytes& buffer) {
    buffer.resize(kDatagramBytes);
    // Bounded: what is still waiting afterwards keeps the socket readable for the next call.
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        sockaddr_nl sender{};
        socklen_t senderLength = sizeof sender;
        // MSG_TRUNC makes the result the datagram's real length, so a cut one is noticed.
        const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            buffer.clear();
            if (error == EAGAIN || error == EWOULDBLOCK) {
                return Received::Nothing;
            }
            if (error == ENOBUFS) {
                return Received::Lost;
            }
            logFailure("cannot read the route socket", error);
            return Received::Failed;
        }
        if (senderLength < sizeof sender || sender.nl_family != AF_NETLINK || sender.nl_pid != 0) {
            continue;  // not from the kernel
        }
        if (static_cast<size_t>(n) > buffer.size()) {
            buffer.clear();
            return Received::Lost;
        }
        buffer.resize(static_cast<size_t>(n));
        return Received::Datagram;
    }
    buffer.clear();
    return Received::Nothing;
}

std::optional<NetworkSnapshot> NetlinkSocket::dumpNetworkState() {
    NetworkSnapshot state;
    if (!dump(RTM_GETLINK, state) || !dump(RTM_GETADDR, state) || !dump(RTM_GETROUTE, state)) {
        return std::nullopt;
    }
    return state;
}

bool NetlinkSocket::dump(uint16_t requestType, NetworkSnapshot& into) {
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        NetworkSnapshot part;
        bool inconsistent = false;
        if (!dumpOnce(requestType, part, inconsistent)) {
            return false;
        }
        if (!inconsistent || attempt + 1 == kDumpAttempts) {
            // After the last attempt an inconsistent dump is still the best view there is; the
            // change that made it so also sent a change message.
            into.links.insert(into.links.end(), part.links.begin(), part.links.end());
            into.addresses.insert(into.addresses.end(), part.addresses.begin(),
                                  part.addresses.end());
            into.routes.insert(into.routes.end(), part.routes.begin(), part.routes.end());
            return true;
        }
    }
    return false;
}

bool NetlinkSocket::dumpOnce(uint16_t requestType, NetworkSnapshot& into, bool& inconsistent) {
    // The request: a header and the family message of its kind, all zero (every family).
    struct {
        nlmsghdr header;
        union {
            ifinfomsg link;
            ifaddrmsg address;
            rtmsg route;
        } body;
    } request;
    std::memset(&request, 0, sizeof request);
    const size_t bodyLength = requestType == RTM_GETLINK   ? sizeof(ifinfomsg)
                              : requestType == RTM_GETADDR ? sizeof(ifaddrmsg)
                                                           : sizeof(rtmsg);
    const uint32_t sequence = ++sequence_;
    request.header.nlmsg_len = NLMSG_LENGTH(bodyLength);
    request.header.nlmsg_type = requestType;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        logFailure("cannot ask for a dump", errno);
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + kDumpTime;
    size_t total = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            logLine("netlink: a dump did not end in time");
            return false;
        }
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno != EINTR) {
            logFailure("cannot wait for a dump", errno);
            return false;
        }
        if (polled <= 0) {
            continue;
        }
        switch (receive(buffer_)) {
            case Received::Nothing:
                continue;
            case Received::Lost:
                logLine("netlink: part of a dump was lost");
                return false;
            case Received::Failed:
                return false;
            case Received::Datagram:
                break;
        }
        total += buffer_.size();
        if (total > kMaxDumpBytes) {
            logLine("netlink: a dump was too large");
            return false;
        }
        NetlinkParse parse;
        parseNetlinkMessages(buffer_, sequence, parse);
        into.links.insert(into.links.end(), parse.found.links.begin(), parse.found.links.end());
        into.addresses.insert(into.addresses.end(), parse.found.addresses.begin(),
                              parse.found.addresses.end());
        into.routes.insert(into.routes.end(), parse.found.routes.begin(), parse.found.routes.end());
        inconsistent = inconsistent || parse.interrupted;
        if (parse.error != 0) {
            logFailure("the kernel refused a dump", parse.error);
            return false;
        }
        if (parse.malformed) {
            logLine("netlink: a dump held a malformed message");
            return false;
        }
        if (parse.done) {
            return true;
        }
    }
}

}  // namespace vistamo
