#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo {

// What the kernel's route netlink messages say about interfaces, their addresses and routes:
// the part of it that decides whether the network can be reached.

struct NetlinkLink {
    int32_t index = 0;
    uint32_t flags = 0;  // IFF_*
    std::string name;
};

struct NetlinkAddress {
    int32_t index = 0;
    uint8_t family = 0;  // AF_INET or AF_INET6
    uint8_t prefixLength = 0;
    std::array<uint8_t, 16> address{};  // the first 4 bytes for IPv4
};

struct NetlinkRoute {
    uint8_t family = 0;
    uint8_t type = 0;  // RTN_*
    uint32_t table = 0;
    uint8_t destinationLength = 0;          // prefix length in bits; 0 for a default route
    std::array<uint8_t, 16> destination{};  // zero when the message names none
    std::vector<int32_t> outputInterfaces;  // RTA_OIF, or every hop of RTA_MULTIPATH
};

struct NetworkSnapshot {
    std::vector<NetlinkLink> links;
    std::vector<NetlinkAddress> addresses;
    std::vector<NetlinkRoute> routes;
};

// The outcome of reading one received buffer. Entries of RTM_NEW* messages are appended to
// `found`; RTM_DEL* messages only count as changes.
struct NetlinkParse {
    NetworkSnapshot found;
    size_t changes = 0;  // RTM_NEW/DEL of links, addresses and routes
    bool done = false;   // NLMSG_DONE ended a dump
    int error = 0;       // errno of an NLMSG_ERROR (not an acknowledgement), or of a failed dump
    bool interrupted = false;  // a dump message carried NLM_F_DUMP_INTR: the dump is inconsistent
    bool overrun = false;      // NLMSG_OVERRUN: messages were lost
    // A length did not fit: a message's drops the rest of the datagram, an attribute's drops
    // the entry of its message.
    bool malformed = false;
};

// Reads the netlink messages in one datagram as received from the kernel. Every length is
// checked against what is left before anything is read, so arbitrary bytes are safe; the data
// needs no alignment. With `sequence`, messages carrying another sequence number are skipped.
// Reading stops after NLMSG_DONE or an error message.
void parseNetlinkMessages(ByteView datagram, std::optional<uint32_t> sequence, NetlinkParse& into);

}  // namespace vistamo
