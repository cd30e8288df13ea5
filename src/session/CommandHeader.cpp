#include "session/CommandHeader.h"

#include <bit>
#include <cstring>

namespace vistamo {

uint32_t readLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t readLE64(const uint8_t* p) {
    return static_cast<uint64_t>(readLE32(p)) | static_cast<uint64_t>(readLE32(p + 4)) << 32;
}

void writeLE32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void writeLE64(uint8_t* p, uint64_t value) {
    writeLE32(p, static_cast<uint32_t>(value));
    writeLE32(p + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t floatBits(float value) { return std::bit_cast<uint32_t>(value); }

float floatFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

std::array<uint8_t, kHeaderSize> encodeHeader(const CommandHeader& header) {
    std::array<uint8_t, kHeaderSize> bytes{};
    writeLE64(&bytes[0], header.length);
    writeLE32(&bytes[8], header.type);
    writeLE32(&bytes[12], header.command);
    writeLE32(&bytes[16], header.details);
    writeLE32(&bytes[20], header.details2);
    return bytes;
}

std::optional<CommandHeader> decodeHeader(ByteView bytes) {
    if (bytes.size() < kHeaderSize) {
        return std::nullopt;
    }
    const uint8_t* p = bytes.data();
    return CommandHeader{readLE64(p), readLE32(p + 8), readLE32(p + 12), readLE32(p + 16),
                         readLE32(p + 20)};
}

Bytes makeMessage(uint32_t command, uint32_t details, uint32_t details2, ByteView body) {
    CommandHeader header;
    header.length = kHeaderSize + body.size();
    header.command = command;
    header.details = details;
    header.details2 = details2;
    const auto head = encodeHeader(header);
    Bytes message(head.begin(), head.end());
    message.insert(message.end(), body.begin(), body.end());
    return message;
}

}  // namespace vistamo
