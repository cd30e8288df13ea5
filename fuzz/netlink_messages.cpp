// The route netlink parser on arbitrary bytes taken as one received datagram: no read outside
// the data, no hang, the same outcome wherever the bytes sit in memory, and entries only from
// messages that counted as changes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "discovery/NetlinkMessages.h"
#include "discovery/NetlinkReachabilitySource.h"

using namespace vistamo;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool sameOutcome(const NetlinkParse& a, const NetlinkParse& b) {
    return a.changes == b.changes && a.done == b.done && a.error == b.error &&
           a.interrupted == b.interrupted && a.overrun == b.overrun && a.malformed == b.malformed &&
           a.found.links.size() == b.found.links.size() &&
           a.found.addresses.size() == b.found.addresses.size() &&
           a.found.routes.size() == b.found.routes.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView datagram(data, size);
    NetlinkParse parse;
    parseNetlinkMessages(datagram, std::nullopt, parse);
    const NetworkSnapshot& found = parse.found;
    check(found.links.size() + found.addresses.size() + found.routes.size() <= parse.changes);
    for (const NetlinkLink& link : found.links) {
        check(link.name.size() <= size);
    }

    // One byte off any alignment the allocator gave.
    std::vector<uint8_t> shifted(size + 1);
    if (size > 0) {
        std::memcpy(shifted.data() + 1, data, size);
    }
    NetlinkParse again;
    parseNetlinkMessages(ByteView(shifted).subspan(1), std::nullopt, again);
    check(sameOutcome(parse, again));

    // Filtering by sequence number only ever skips messages.
    NetlinkParse filtered;
    parseNetlinkMessages(datagram, 1, filtered);

    const ReachabilityFlags flags = NetlinkReachabilitySource::flagsForState(found);
    check(flags == 0 || flags == kReachabilityFlagsReachable);
    return 0;
}
