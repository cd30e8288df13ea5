#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"
#include "session/CommandHeader.h"

namespace vistamo {

// The check word of every challenge block: word 3 = word 1 XOR ChallengeCheck.
inline constexpr uint32_t ChallengeCheck = 0x5E21C4A7;

// The key a response is XORed with, byte i of the block with byte i of the key.
inline constexpr std::array<uint8_t, 16> ChallengeKey = {
    0x3e, 0xa1, 0x5c, 0x07, 0xd2, 0x94, 0x6b, 0xf0, 0x18, 0xc7, 0x2d, 0x83, 0x59, 0xe6, 0x0a, 0xb4};

// Four 32-bit words as they travel: little-endian, word 0 first.
using ChallengeBlock = std::array<uint8_t, 16>;

inline constexpr size_t kChallengeBlockOffset = 24;
inline constexpr size_t kIdentityLengthOffset = 40;
inline constexpr size_t kIdentityOffset = 41;
// The longest identity a receiver reads from a challenge.
inline constexpr size_t kMaxIdentityLength = 40;
// Where the password starts in a response (command 30 from the client).
inline constexpr size_t kResponsePasswordOffset = 40;

uint32_t challengeWord(const ChallengeBlock& block, int index);
void setChallengeWord(ChallengeBlock& block, int index, uint32_t value);
// True when word 3 equals word 1 XOR ChallengeCheck.
bool challengeBlockChecks(const ChallengeBlock& block);
// XORs the block in place with ChallengeKey.
void applyChallengeKey(uint8_t* block16);

// A challenge message (command 1): block, identity length byte (low 8 bits of the identity's
// byte count), identity, then the name to the end of the message.
Bytes buildChallengeMessage(const ChallengeBlock& block, std::string_view identity,
                            std::string_view name);

struct ChallengeMessage {
    ChallengeBlock block{};
    // Set when the message carries the identity length byte, the length is at most 40 and the
    // identity fits in the message.
    bool identityReadable = false;
    // Each none when its bytes are not valid UTF-8 (or not readable).
    std::optional<std::string> identity;
    std::optional<std::string> name;
};

// Reads a whole challenge message; none when it is too short to hold the block (40 bytes).
std::optional<ChallengeMessage> parseChallengeMessage(ByteView message);

// The flags word of a camera status (command 18).
struct CameraStatus {
    uint16_t framesPerSecond = 0;
    uint16_t resolutionCode = 0;
    uint32_t flags = 0;

    bool flashing() const { return flags & (1u << 0); }
    bool secondCamera() const { return flags & (1u << 2); }
    bool screen() const { return flags & (1u << 3); }
    bool guarding() const { return flags & (1u << 4); }
};

CameraStatus cameraStatusFrom(const CommandHeader& header);
uint32_t cameraStatusDetails(uint16_t framesPerSecond, uint16_t resolutionCode);

// The SPS and PPS blocks of a stream-parameters message (command 101), each with its 4-byte
// prefix; none when `details` (the SPS block's size) runs past the body.
struct StreamParameters {
    ByteView sps;
    ByteView pps;
};
std::optional<StreamParameters> splitStreamParameters(const CommandHeader& header, ByteView body);

// UTF-8 text of bytes, or none when they are not valid UTF-8.
std::optional<std::string> utf8Text(ByteView bytes);

}  // namespace vistamo
