#pragma once

#include <optional>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo {

// Reads one camera's stream as the camera sent it, before decoding: the recorder, a publisher
// to a media server, any other reader of the stream itself. The session hands every message
// to each of its sinks in turn, on its queue ("Client Queue"); the views are valid for the
// call only. A sink copies what it keeps and never waits there for another thread or the
// network: the session, its decoder and the other sinks wait meanwhile.
class StreamSink {
public:
    virtual ~StreamSink() = default;

    // The sequence and picture parameter sets, each with its 4-byte prefix.
    virtual void parameterSets(ByteView sps, ByteView pps) = 0;
    // A picture's NAL units with their 4-byte prefixes, together (one, or both slices), with
    // the camera's time stamp when it sent one.
    virtual void picture(const std::vector<ByteView>& units, bool keyFrame,
                         std::optional<double> cameraSeconds) = 0;
    // One Opus packet (48 kHz, one channel).
    virtual void sound(ByteView opusPacket) = 0;

    // The camera's stream begins anew (a new connection was verified); what follows belongs
    // to it, starting with its parameter sets. Default: nothing.
    virtual void streamRestarted() {}
};

}  // namespace vistamo
