#include "session/SessionChallenge.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"
#include "platform/Utf8.h"

namespace vistamo {

uint32_t SessionChallenge::randomWord() {
    uint32_t word = 0;
    auto* out = reinterpret_cast<uint8_t*>(&word);
    size_t filled = 0;
    while (filled < sizeof word) {
        const ssize_t got = ::getrandom(out + filled, sizeof word - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // No kernel random source is a broken system, not a condition to carry on in:
            // a predictable challenge would be worse than no session.
            logLine(std::string("no random source: ") + std::strerror(errno));
            std::abort();
        }
        filled += static_cast<size_t>(got);
    }
    return word;
}

SessionChallenge::SessionChallenge() {
    for (int i = 0; i < 3; ++i) {
        plaintext[i] = static_cast<int32_t>(randomWord());
    }
    plaintext[3] = static_cast<int32_t>(static_cast<uint32_t>(plaintext[1]) ^ ChallengeCheck);
}

ChallengeBlock SessionChallenge::getPlaintext() const {
    ChallengeBlock block{};
    for (int i = 0; i < 4; ++i) {
        setChallengeWord(block, i, static_cast<uint32_t>(plaintext[i]));
    }
    return block;
}

void SessionChallenge::encryptData(uint8_t* block16) { applyChallengeKey(block16); }

bool SessionChallenge::verifyData(const std::string& password) {
    bVerified = false;
    // The low 32 bits of `length` must cover the block, and the buffer must really hold it.
    if (buffer_.size() < kResponsePasswordOffset ||
        static_cast<uint32_t>(readLE64(buffer_.data())) < kResponsePasswordOffset) {
        return false;
    }
    uint8_t* block = buffer_.data() + kChallengeBlockOffset;
    encryptData(block);
    ChallengeBlock received{};
    std::copy_n(block, 16, received.begin());
    if (received != getPlaintext()) {
        return false;
    }
    if (password.empty()) {
        bVerified = true;
        return true;
    }
    const uint64_t length = readLE64(buffer_.data());
    const size_t p = utf16Length(password);
    const size_t passwordBytes = std::min(p, password.size());
    bVerified = length - kResponsePasswordOffset == p &&
                buffer_.size() >= kResponsePasswordOffset + passwordBytes &&
                std::equal(password.begin(), password.begin() + passwordBytes,
                           buffer_.begin() + kResponsePasswordOffset);
    return bVerified;
}

}  // namespace vistamo
