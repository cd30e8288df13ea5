// The discovery datagram reader on arbitrary bytes, as a viewer's receive callback meets them:
// no read outside the datagram, and what it reads accounts for every byte.
//
// Input: one byte that says what the sender's address is (0: IPv4, then 4 address and 2 port
// bytes; 1: IPv6, then 16 and 2; anything else: none that can be read), then the datagram.
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <variant>

#include "discovery/DiscoveryMessages.h"

using namespace vistamo;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The sender's address from the front of the input; `used` is how many bytes it took.
Bytes sourceAddress(const uint8_t* data, size_t size, size_t& used) {
    used = size > 0 ? 1 : 0;
    if (size >= 7 && data[0] == 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        std::memcpy(&address.sin_addr, data + 1, 4);
        std::memcpy(&address.sin_port, data + 5, 2);
        used = 7;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
        return Bytes(bytes, bytes + sizeof address);
    }
    if (size >= 19 && data[0] == 1) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        std::memcpy(&address.sin6_addr, data + 1, 16);
        std::memcpy(&address.sin6_port, data + 17, 2);
        used = 19;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
        return Bytes(bytes, bytes + sizeof address);
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t used = 0;
    const Bytes address = sourceAddress(data, size, used);
    // The datagram runs to the end of the input, so a read past it leaves the buffer.
    const ByteView datagram(data + used, size - used);

    const auto header = readDiscoveryHeader(datagram);
    check(!header || datagram.size() >= 4);
    const auto identity = readDiscoveryIdentity(datagram);
    if (identity) {
        check(identity->uuid.size() <= kMaxDiscoveryUUIDBytes);
        check(5 + identity->uuid.size() + identity->name.size() == datagram.size());
    }
    check(readScanRequestAddress(datagram).size() ==
          (datagram.size() > 4 ? datagram.size() - 4 : 0));

    const DiscoveryEvent event = readDiscoveryEvent(datagram, address);
    if (const auto* answer = std::get_if<DiscoveryAnswer>(&event)) {
        check(header && identity && !address.empty());
        // Written back, an I-am-in is the very datagram; a response is from its length byte on.
        if (header->kind == DiscoveryKind::Peer) {
            const Bytes again =
                makePeerIdentity(PeerCommand::IAmIn, answer->port, answer->uuid, answer->name);
            check(again.size() == datagram.size() &&
                  std::memcmp(again.data(), datagram.data(), again.size()) == 0);
        } else {
            check(header->kind == DiscoveryKind::Response);
            const Bytes again = makeResponse(answer->uuid, answer->name);
            check(again.size() == datagram.size() &&
                  std::memcmp(again.data() + 4, datagram.data() + 4, again.size() - 4) == 0);
        }
    } else if (const auto* leave = std::get_if<DiscoveryLeave>(&event)) {
        check(header && identity && leave->uuid == identity->uuid);
    }
    return 0;
}
