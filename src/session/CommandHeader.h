#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/Bytes.h"

namespace vistamo {

// Command codes of the camera session. Each has a fixed direction and body form: the client
// acts on 1, 9, 50, 101, 102 and 104 only with a body, and on 2, 13, 18 and 30 only without.
enum Command : uint32_t {
    CmdChallenge = 1,
    CmdAlarm = 2,
    CmdStartMonitor = 6,
    CmdStopMonitor = 7,
    CmdVerified = 9,
    CmdPasswordError = 13,
    CmdRequestStream = 16,
    CmdCameraStatus = 18,
    CmdTapFocus = 20,
    CmdFlashSwitch = 27,
    CmdScreenSwitch = 28,
    CmdSwitchCamera = 29,
    CmdChallengeResponse = 30,
    CmdRequestCameraInfo = 34,
    CmdNewPassword = 35,
    CmdChallengeRequest = 50,
    CmdStreamParameters = 101,
    CmdVideoFrame = 102,
    CmdOpusAudio = 104,
    CmdIntercomStart = 108,
    CmdIntercomStop = 109,
    CmdDisconnect = 200,
};

// The `details` value that every CmdDisconnect carries (458,752: bytes 00 00 07 00).
inline constexpr uint32_t kDisconnectDetails = 0x00070000;

// Every message starts with this header; all fields little-endian on the wire.
inline constexpr size_t kHeaderSize = 24;
// The largest `length` a receiver accepts; a larger header is garbage and is skipped.
inline constexpr uint64_t kMaxMessageLength = 0x400000;
// The only `type` a receiver acts on.
inline constexpr uint32_t kMessageType = 1;

struct CommandHeader {
    uint64_t length = kHeaderSize;  // whole message, header included
    uint32_t type = kMessageType;
    uint32_t command = 0;
    uint32_t details = 0;
    uint32_t details2 = 0;
};

// The 24 header bytes, little-endian whatever the host.
std::array<uint8_t, kHeaderSize> encodeHeader(const CommandHeader& header);

// The header at the start of `bytes`; none when fewer than 24 bytes are given.
std::optional<CommandHeader> decodeHeader(ByteView bytes);

// A whole message: header (length = 24 + body size, type 1) followed by the body.
Bytes makeMessage(uint32_t command, uint32_t details = 0, uint32_t details2 = 0,
                  ByteView body = {});

// Little-endian field access on wire bytes; the caller guarantees the bytes are there.
uint32_t readLE32(const uint8_t* p);
uint64_t readLE64(const uint8_t* p);
void writeLE32(uint8_t* p, uint32_t value);
void writeLE64(uint8_t* p, uint64_t value);

// The bits of a single-precision float as carried in `details` / `details2`, and back.
uint32_t floatBits(float value);
float floatFromBits(uint32_t bits);

}  // namespace vistamo
