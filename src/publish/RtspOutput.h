#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/H264ParameterSets.h"
#include "media/StreamTimeline.h"
#include "platform/Bytes.h"

struct AVFormatContext;

namespace vistamo {

// One connection to a media server: libavformat's RTSP output over TCP, announcing one H.264
// stream (with the parameter sets it starts with) and one Opus stream, and sending their
// packets as they are. Connecting and writing block; a write into a server that stopped
// reading waits until `interrupted` says so (asked while it waits) or the socket's timeout
// passes.
//
// Not thread-safe: one thread (a publisher's queue) uses it.
class RtspOutput {
public:
    // How an attempt or a write ended.
    enum class Outcome {
        sent,
        // The server could not be reached or the connection broke: worth trying again.
        unreachable,
        // The server answered and said no: trying again would give the same answer.
        refused,
        // The server asked for a user and password, and those given (if any) were not accepted.
        authenticationFailed,
    };
    struct Result {
        Outcome outcome = Outcome::sent;
        // For people: why, without the address.
        std::string reason;
    };

    // `url` holds the credentials; it is kept for the connection only and never logged.
    RtspOutput(std::string url, double ioTimeoutSeconds, std::function<bool()> interrupted);
    ~RtspOutput();

    RtspOutput(const RtspOutput&) = delete;
    RtspOutput& operator=(const RtspOutput&) = delete;

    Result open(const H264ParameterSets& format);
    Result writePicture(const StreamTimeline::TimedPicture& picture);
    Result writeSound(ByteView packet, const StreamTimeline::TimedSound& sound);

    // Payload bytes handed to the server so far.
    uint64_t bytesSent() const { return bytesSent_; }

private:
    Result write(int stream, ByteView data, int64_t pts, int64_t dts, int64_t duration, bool key);
    void close();

    std::string url_;
    double ioTimeoutSeconds_;
    // Called by libavformat while it waits, on this object's thread.
    std::function<bool()> interrupted_;
    struct FormatDeleter {
        void operator()(AVFormatContext* context) const;
    };
    std::unique_ptr<AVFormatContext, FormatDeleter> format_;
    bool headerWritten_ = false;
    uint64_t bytesSent_ = 0;
};

}  // namespace vistamo
