#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Bytes.h"

namespace vistamo {

// The discovery datagrams that viewers and cameras exchange on UDP port 10221. Every datagram
// starts with a kind byte and a byte whose high three bits are the version (001) and whose low
// five bits are the command; multi-byte integers are little-endian. Everything here is
// stateless and callable from any thread; readers never look past the bytes they are given.

inline constexpr uint16_t kDiscoveryPort = 10221;
inline constexpr const char* kDiscoveryGroupIPv4 = "239.255.0.8";
inline constexpr const char* kDiscoveryGroupIPv6 = "ff15::0001";

// The longest camera identity a datagram can carry: its length is read as a signed byte.
inline constexpr size_t kMaxDiscoveryUUIDBytes = 127;

enum class DiscoveryKind : uint8_t {
    Peer = 1,             // scan request, I-am-in, I-am-out
    Response = 30,        // a camera's answer that gives its port as the UDP source port
    ServerCommand = 200,  // from a server; nothing this viewer uses
};

enum class PeerCommand : uint8_t {
    ScanRequest = 1,
    IAmIn = 2,
    IAmOut = 3,
};

// The first two bytes of a datagram that passed the checks every datagram must pass: at least
// 4 bytes, version 001, and a known kind.
struct DiscoveryHeader {
    DiscoveryKind kind = DiscoveryKind::Peer;
    uint8_t command = 0;  // the low five bits of byte 1
};
std::optional<DiscoveryHeader> readDiscoveryHeader(ByteView datagram);

// The body shared by I-am-in, I-am-out and response: the port field at offset 2, the identity's
// length L at offset 4, the identity from offset 5 and the display name from 5 + L to the end.
// None when L is above 127 or the datagram is shorter than 5 + L bytes. The header is not
// checked here.
struct DiscoveryIdentity {
    uint16_t portField = 0;
    std::string uuid;
    std::string name;
};
std::optional<DiscoveryIdentity> readDiscoveryIdentity(ByteView datagram);

// The address text a scan request carries from offset 4 (empty for a 4-byte request).
std::string readScanRequestAddress(ByteView datagram);

// A camera that answered: its address and TCP port, identity and display name.
struct DiscoveryAnswer {
    std::string host;
    uint16_t port = 0;
    std::string uuid;
    std::string name;
};

// A camera that goes off line.
struct DiscoveryLeave {
    std::string uuid;
};

// What a viewer makes of one received datagram and the socket address it came from (a
// sockaddr_in or sockaddr_in6 as bytes): an answer (I-am-in with the port field as port, or a
// response with the source port as port), a leave, or nothing (malformed, from an unreadable
// address, a scan request, which viewers never answer, or a server command).
using DiscoveryEvent = std::variant<std::monostate, DiscoveryAnswer, DiscoveryLeave>;
DiscoveryEvent readDiscoveryEvent(ByteView datagram, ByteView sourceAddress);

// 0x01 0x21, two zero bytes, then the local address as text without terminator.
Bytes makeScanRequest(std::string_view localAddress);

// An I-am-in or I-am-out (0x01, 0x22 or 0x23) carrying `port`. Empty when `uuid` is longer
// than kMaxDiscoveryUUIDBytes or `command` is a scan request.
Bytes makePeerIdentity(PeerCommand command, uint16_t port, std::string_view uuid,
                       std::string_view name);

// A response (30, 0x22) with zero port bytes. Empty when `uuid` is too long.
Bytes makeResponse(std::string_view uuid, std::string_view name);

}  // namespace vistamo
