#pragma once

#include <optional>

#include "media/DecodedFrame.h"
#include "platform/Bytes.h"

namespace vistamo {

// A JPEG (JFIF) image of `frame` at its own size, compressed by TurboJPEG straight from the
// frame's planes, keeping its chroma subsampling. JFIF samples are full-range BT.601; a frame in
// another range or matrix is converted into temporary planes first, so that the picture keeps
// its colours. None when TurboJPEG fails (logged). Any thread.
std::optional<Bytes> encodeJpeg(const DecodedFrame& frame, int quality);

}  // namespace vistamo
