#include "session/SessionMessages.h"

#include <algorithm>

#include "platform/Utf8.h"

namespace vistamo {

uint32_t challengeWord(const ChallengeBlock& block, int index) {
    return readLE32(&block[static_cast<size_t>(index) * 4]);
}

void setChallengeWord(ChallengeBlock& block, int index, uint32_t value) {
    writeLE32(&block[static_cast<size_t>(index) * 4], value);
}

bool challengeBlockChecks(const ChallengeBlock& block) {
    return challengeWord(block, 3) == (challengeWord(block, 1) ^ ChallengeCheck);
}

void applyChallengeKey(uint8_t* block16) {
    for (size_t i = 0; i < ChallengeKey.size(); ++i) {
        block16[i] ^= ChallengeKey[i];
    }
}

Bytes buildChallengeMessage(const ChallengeBlock& block, std::string_view identity,
                            std::string_view name) {
    Bytes body(block.begin(), block.end());
    body.push_back(static_cast<uint8_t>(identity.size() & 0xFF));
    body.insert(body.end(), identity.begin(), identity.end());
    body.insert(body.end(), name.begin(), name.end());
    return makeMessage(CmdChallenge, 0, 0, body);
}

std::optional<std::string> utf8Text(ByteView bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<ChallengeMessage> parseChallengeMessage(ByteView message) {
    if (message.size() < kChallengeBlockOffset + 16) {
        return std::nullopt;
    }
    ChallengeMessage parsed;
    std::copy_n(message.begin() + kChallengeBlockOffset, 16, parsed.block.begin());
    if (message.size() <= kIdentityLengthOffset) {
        return parsed;
    }
    const size_t n = message[kIdentityLengthOffset];
    if (n > kMaxIdentityLength || kIdentityOffset + n > message.size()) {
        return parsed;
    }
    parsed.identityReadable = true;
    parsed.identity = utf8Text(message.subspan(kIdentityOffset, n));
    parsed.name = utf8Text(message.subspan(kIdentityOffset + n));
    return parsed;
}

CameraStatus cameraStatusFrom(const CommandHeader& header) {
    return CameraStatus{static_cast<uint16_t>(header.details & 0xFFFF),
                        static_cast<uint16_t>(header.details >> 16), header.details2};
}

uint32_t cameraStatusDetails(uint16_t framesPerSecond, uint16_t resolutionCode) {
    return static_cast<uint32_t>(framesPerSecond) | static_cast<uint32_t>(resolutionCode) << 16;
}

std::optional<StreamParameters> splitStreamParameters(const CommandHeader& header, ByteView body) {
    if (header.details > body.size()) {
        return std::nullopt;
    }
    return StreamParameters{body.first(header.details), body.subspan(header.details)};
}

}  // namespace vistamo
