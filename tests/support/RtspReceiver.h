#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "support/ChildProcess.h"

namespace vistamo::test {

// A free TCP port on the loopback address, as the system hands one out.
uint16_t freeLoopbackPort();
// Whether something listens on TCP `port` (read from /proc, without connecting: a receiver that
// takes one publisher would take the probe for it).
bool listening(uint16_t port);

// One publisher's receiver: ffmpeg listening for an RTSP publisher on 127.0.0.1:`port`/`path`
// and copying what it receives, as it is, into a Matroska file. Ready once it listens; ends by
// itself when the publisher says goodbye, or finishes the file when stopped.
class RtspReceiver : public ChildProcess {
public:
    RtspReceiver(uint16_t port, const std::string& path, std::filesystem::path file);
    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
};

// What a file holds, packet by packet: the H.264 NAL units in order (without their lengths),
// with whether each picture began with an IDR picture, and the Opus packets.
struct ReceivedStream {
    std::vector<Bytes> units;
    int pictures = 0;
    bool startsWithKeyFrame = false;
    std::vector<Bytes> sounds;
};
ReceivedStream readReceived(const std::filesystem::path& file);

}  // namespace vistamo::test
