#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Bytes.h"
#include "session/SessionMessages.h"

namespace vistamo {

class CameraRecord;

// One side's challenge state, kept as a session socket's user data: this side's random
// challenge block, the result of the last check, the camera record concerned, and the buffer
// that collects the message being read.
//
// Threads: a session touches it on its "Client Queue" only (the test camera on its one thread);
// it has no lock.
class SessionChallenge {
public:
    // Words 0 to 2 from the system's cryptographic random source, word 3 = word 1 XOR
    // ChallengeCheck; empty buffer; not verified.
    SessionChallenge();

    // The 16 bytes of `plaintext` as they travel (little-endian words).
    ChallengeBlock getPlaintext() const;

    // XORs 16 bytes in place with ChallengeKey.
    static void encryptData(uint8_t* block16);

    // The answering side's check of a response (command 30) held in `buffer`. XORs the
    // buffer's block in place, as the check has always done.
    bool verifyData(const std::string& password);

    bool isVerified() const { return bVerified; }
    void setVerifyStep(bool verified) { bVerified = verified; }

    const std::shared_ptr<CameraRecord>& record() const { return record_; }
    void setDevice(std::shared_ptr<CameraRecord> device) { record_ = std::move(device); }

    Bytes& buffer() { return buffer_; }
    void setBuffer(Bytes buffer) { buffer_ = std::move(buffer); }

    // A fresh cryptographically random 32-bit word.
    static uint32_t randomWord();

private:
    std::array<int32_t, 4> plaintext{};
    bool bVerified = false;
    std::shared_ptr<CameraRecord> record_;
    Bytes buffer_;
};

}  // namespace vistamo
