#include "discovery/NetlinkMessages.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace vistamo {

namespace {

// Callers check that sizeof(T) bytes are there; memcpy because received bytes carry no
// alignment promise once they leave the kernel's buffer.
template <typename T>
T readAt(ByteView bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Calls `visit(type, payload)` for each attribute of `area`, with the checks RTA_OK makes: a
// header fits in what is left, and its length is at least the header and at most what is left.
// False when an attribute's length does not fit; the attributes before it were visited.
template <typename Visit>
bool forEachAttribute(ByteView area, Visit visit) {
    size_t offset = 0;
    while (area.size() - offset >= sizeof(rtattr)) {
        const auto attribute = readAt<rtattr>(area, offset);
        const size_t length = attribute.rta_len;
        if (length < sizeof(rtattr) || length > area.size() - offset) {
            return false;
        }
        visit(attribute.rta_type & NLA_TYPE_MASK,
              area.subspan(offset + RTA_LENGTH(0), length - RTA_LENGTH(0)));
        offset += std::min<size_t>(RTA_ALIGN(length), area.size() - offset);
    }
    return true;
}

// The attributes that follow a fixed family header of `headerSize` bytes in a message body.
ByteView attributesAfter(ByteView body, size_t headerSize) {
    return body.subspan(std::min<size_t>(NLMSG_ALIGN(headerSize), body.size()));
}

size_t addressLength(uint8_t family) { return family == AF_INET ? 4 : family == AF_INET6 ? 16 : 0; }

bool parseLink(ByteView body, NetlinkParse& into) {
    if (body.size() < sizeof(ifinfomsg)) {
        return false;
    }
    const auto info = readAt<ifinfomsg>(body, 0);
    NetlinkLink link;
    link.index = info.ifi_index;
    link.flags = info.ifi_flags;
    const bool fits = forEachAttribute(
        attributesAfter(body, sizeof(ifinfomsg)), [&](unsigned type, ByteView payload) {
            if (type != IFLA_IFNAME) {
                return;
            }
            const auto end = std::find(payload.begin(), payload.end(), uint8_t{0});
            link.name.assign(payload.begin(), end);
        });
    if (fits) {
        into.found.links.push_back(std::move(link));
    }
    return fits;
}

bool parseAddress(ByteView body, NetlinkParse& into) {
    if (body.size() < sizeof(ifaddrmsg)) {
        return false;
    }
    const auto message = readAt<ifaddrmsg>(body, 0);
    const size_t length = addressLength(message.ifa_family);
    std::optional<ByteView> local;
    std::optional<ByteView> address;
    const bool fits = forEachAttribute(attributesAfter(body, sizeof(ifaddrmsg)),
                                       [&](unsigned type, ByteView payload) {
                                           if (length == 0 || payload.size() != length) {
                                               return;
                                           }
                                           if (type == IFA_LOCAL) {
                                               local = payload;
                                           } else if (type == IFA_ADDRESS) {
                                               address = payload;
                                           }
                                       });
    // IFA_LOCAL is this host's own address; IFA_ADDRESS names the peer on point-to-point links.
    const std::optional<ByteView> chosen = local ? local : address;
    if (fits && chosen) {
        NetlinkAddress entry;
        entry.index = static_cast<int32_t>(message.ifa_index);
        entry.family = message.ifa_family;
        entry.prefixLength = message.ifa_prefixlen;
        std::copy(chosen->begin(), chosen->end(), entry.address.begin());
        into.found.addresses.push_back(entry);
    }
    return fits;
}

// The interfaces of an RTA_MULTIPATH list, with the checks RTNH_OK makes.
bool parseHops(ByteView hops, std::vector<int32_t>& interfaces) {
    size_t offset = 0;
    while (hops.size() - offset >= sizeof(rtnexthop)) {
        const auto hop = readAt<rtnexthop>(hops, offset);
        const size_t length = hop.rtnh_len;
        if (length < sizeof(rtnexthop) || length > hops.size() - offset) {
            return false;
        }
        interfaces.push_back(hop.rtnh_ifindex);
        offset += std::min<size_t>(RTNH_ALIGN(length), hops.size() - offset);
    }
    return true;
}

bool parseRoute(ByteView body, NetlinkParse& into) {
    if (body.size() < sizeof(rtmsg)) {
        return false;
    }
    const auto message = readAt<rtmsg>(body, 0);
    const size_t length = addressLength(message.rtm_family);
    NetlinkRoute route;
    route.family = message.rtm_family;
    route.type = message.rtm_type;
    route.table = message.rtm_table;
    route.destinationLength = message.rtm_dst_len;
    bool hopsFit = true;
    const bool fits = forEachAttribute(
        attributesAfter(body, sizeof(rtmsg)), [&](unsigned type, ByteView payload) {
            if (type == RTA_TABLE && payload.size() >= sizeof(uint32_t)) {
                route.table = readAt<uint32_t>(payload, 0);
            } else if (type == RTA_OIF && payload.size() >= sizeof(int32_t)) {
                route.outputInterfaces.push_back(readAt<int32_t>(payload, 0));
            } else if (type == RTA_DST && length != 0 && payload.size() == length) {
                std::copy(payload.begin(), payload.end(), route.destination.begin());
            } else if (type == RTA_MULTIPATH) {
                hopsFit = parseHops(payload, route.outputInterfaces) && hopsFit;
            }
        });
    if (fits && hopsFit && length != 0) {
        into.found.routes.push_back(std::move(route));
    }
    return fits && hopsFit;
}

}  // namespace

void parseNetlinkMessages(ByteView datagram, std::optional<uint32_t> sequence, NetlinkParse& into) {
    size_t offset = 0;
    // The checks NLMSG_OK makes, on offsets: a header fits in what is left, and the message's
    // length is at least the header and at most what is left.
    while (datagram.size() - offset >= sizeof(nlmsghdr)) {
        const auto header = readAt<nlmsghdr>(datagram, offset);
        const size_t length = header.nlmsg_len;
        if (length < sizeof(nlmsghdr) || length > datagram.size() - offset) {
            into.malformed = true;
            return;
        }
        const ByteView body = datagram.subspan(offset + NLMSG_HDRLEN, length - NLMSG_HDRLEN);
        offset += std::min<size_t>(NLMSG_ALIGN(length), datagram.size() - offset);
        if (sequence && header.nlmsg_seq != *sequence) {
            continue;
        }
        if ((header.nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
            into.interrupted = true;
        }
        bool fits = true;
        switch (header.nlmsg_type) {
            case NLMSG_DONE:
                // A dump that failed half-way ends with its negative errno here.
                if (body.size() >= sizeof(int) && readAt<int>(body, 0) < 0) {
                    const int code = readAt<int>(body, 0);
                    into.error = code == INT_MIN ? EPROTO : -code;
                }
                into.done = true;
                return;
            case NLMSG_ERROR: {
                if (body.size() < sizeof(nlmsgerr)) {
                    into.malformed = true;
                    return;
                }
                const int code = readAt<int>(body, 0);
                if (code == 0) {
                    break;  // an acknowledgement
                }
                into.error = code < 0 && code != INT_MIN ? -code : EPROTO;
                return;
            }
            case NLMSG_OVERRUN:
                into.overrun = true;
                break;
            case RTM_NEWLINK:
                ++into.changes;
                fits = parseLink(body, into);
                break;
            case RTM_NEWADDR:
                ++into.changes;
                fits = parseAddress(body, into);
                break;
            case RTM_NEWROUTE:
                ++into.changes;
                fits = parseRoute(body, into);
                break;
            case RTM_DELLINK:
            case RTM_DELADDR:
            case RTM_DELROUTE:
                ++into.changes;
                break;
            default:
                break;
        }
        if (!fits) {
            into.malformed = true;
        }
    }
    if (offset != datagram.size()) {
        into.malformed = true;  // bytes left over that cannot hold a header
    }
}

}  // namespace vistamo
