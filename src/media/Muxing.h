#pragma once

#include <cstdint>

#include "platform/Bytes.h"

extern "C" {
struct AVCodecParameters;
struct AVFormatContext;
}

namespace vistamo {

// Gives a stream's codec parameters a copy of `bytes` as their extradata (an avcC record, an
// OpusHead), padded as libavcodec wants it. False when the copy could not be allocated.
bool setCodecExtradata(AVCodecParameters* parameters, ByteView bytes);

// Writes `data` as one packet of stream `stream` of a camera's stream (0: video, times on
// StreamTimeline's video clock; 1: sound, times in samples), its times rescaled to the stream's
// time base. Answers av_write_frame's result, or AVERROR(ENOMEM) when no packet was made.
int writeTimedPacket(AVFormatContext* format, int stream, ByteView data, int64_t pts, int64_t dts,
                     int64_t duration, bool key);

}  // namespace vistamo
