#pragma once

#include "platform/Bytes.h"

extern "C" {
struct AVCodecParameters;
}

namespace vistamo {

// Gives a stream's codec parameters a copy of `bytes` as their extradata (an avcC record, an
// OpusHead), padded as libavcodec wants it. False when the copy could not be allocated.
bool setCodecExtradata(AVCodecParameters* parameters, ByteView bytes);

}  // namespace vistamo
