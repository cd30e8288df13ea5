#include "discovery/DiscoveryMessages.h"

#include "discovery/UdpSocket.h"

namespace vistamo {

namespace {

constexpr size_t kHeaderBytes = 4;
constexpr size_t kUUIDLengthOffset = 4;
constexpr size_t kUUIDOffset = 5;
constexpr uint8_t kVersionMask = 0xE0;
constexpr uint8_t kVersion1 = 0x20;
constexpr uint8_t kCommandMask = 0x1F;

Bytes makeIdentityBody(uint8_t kind, uint8_t command, uint16_t port, std::string_view uuid,
                       std::string_view name) {
    if (uuid.size() > kMaxDiscoveryUUIDBytes) {
        return {};
    }
    Bytes datagram{kind, static_cast<uint8_t>(kVersion1 | command),
                   static_cast<uint8_t>(port & 0xFF), static_cast<uint8_t>(port >> 8),
                   static_cast<uint8_t>(uuid.size())};
    datagram.insert(datagram.end(), uuid.begin(), uuid.end());
    datagram.insert(datagram.end(), name.begin(), name.end());
    return datagram;
}

}  // namespace

std::optional<DiscoveryHeader> readDiscoveryHeader(ByteView datagram) {
    if (datagram.size() < kHeaderBytes || (datagram[1] & kVersionMask) != kVersion1) {
        return std::nullopt;
    }
    DiscoveryHeader header;
    switch (datagram[0]) {
        case static_cast<uint8_t>(DiscoveryKind::Peer):
        case static_cast<uint8_t>(DiscoveryKind::Response):
        case static_cast<uint8_t>(DiscoveryKind::ServerCommand):
            header.kind = static_cast<DiscoveryKind>(datagram[0]);
            break;
        default:
            return std::nullopt;
    }
    header.command = datagram[1] & kCommandMask;
    return header;
}

std::optional<DiscoveryIdentity> readDiscoveryIdentity(ByteView datagram) {
    if (datagram.size() < kUUIDOffset) {
        return std::nullopt;
    }
    const size_t length = datagram[kUUIDLengthOffset];
    if (length > kMaxDiscoveryUUIDBytes || datagram.size() - kUUIDOffset < length) {
        return std::nullopt;
    }
    DiscoveryIdentity identity;
    identity.portField = static_cast<uint16_t>(datagram[2] | (datagram[3] << 8));
    identity.uuid = textOf(datagram.subspan(kUUIDOffset, length));
    identity.name = textOf(datagram.subspan(kUUIDOffset + length));
    return identity;
}

std::string readScanRequestAddress(ByteView datagram) {
    if (datagram.size() <= kHeaderBytes) {
        return {};
    }
    return textOf(datagram.subspan(kHeaderBytes));
}

DiscoveryEvent readDiscoveryEvent(ByteView datagram, ByteView sourceAddress) {
    const auto header = readDiscoveryHeader(datagram);
    if (!header) {
        return {};
    }
    const bool isResponse = header->kind == DiscoveryKind::Response;
    const bool isPeer = header->kind == DiscoveryKind::Peer;
    const bool isIn = isPeer && header->command == static_cast<uint8_t>(PeerCommand::IAmIn);
    const bool isOut = isPeer && header->command == static_cast<uint8_t>(PeerCommand::IAmOut);
    // Scan requests are for cameras; server commands carry nothing a viewer acts on.
    if (!isResponse && !isIn && !isOut) {
        return {};
    }
    auto identity = readDiscoveryIdentity(datagram);
    if (!identity) {
        return {};
    }
    if (isOut) {
        return DiscoveryLeave{std::move(identity->uuid)};
    }
    DiscoveryAnswer answer;
    uint16_t sourcePort = 0;
    if (!UdpSocket::getHost(&answer.host, &sourcePort, sourceAddress)) {
        return {};
    }
    answer.port = isResponse ? sourcePort : identity->portField;
    answer.uuid = std::move(identity->uuid);
    answer.name = std::move(identity->name);
    return answer;
}

Bytes makeScanRequest(std::string_view localAddress) {
    Bytes datagram{static_cast<uint8_t>(DiscoveryKind::Peer),
                   static_cast<uint8_t>(kVersion1 | static_cast<uint8_t>(PeerCommand::ScanRequest)),
                   0, 0};
    datagram.insert(datagram.end(), localAddress.begin(), localAddress.end());
    return datagram;
}

Bytes makePeerIdentity(PeerCommand command, uint16_t port, std::string_view uuid,
                       std::string_view name) {
    if (command == PeerCommand::ScanRequest) {
        return {};
    }
    return makeIdentityBody(static_cast<uint8_t>(DiscoveryKind::Peer),
                            static_cast<uint8_t>(command), port, uuid, name);
}

Bytes makeResponse(std::string_view uuid, std::string_view name) {
    return makeIdentityBody(static_cast<uint8_t>(DiscoveryKind::Response),
                            static_cast<uint8_t>(PeerCommand::IAmIn), 0, uuid, name);
}

}  // namespace vistamo
