#pragma once

#include "media/PixelBuffer.h"

namespace vistamo {

// Receives the decoder's frames in display order.
class PictureSink {
public:
    virtual ~PictureSink() = default;

    // Called on the decoder's own thread, one frame at a time; the frame stays valid as long as
    // the receiver keeps the reference. It must not wait for another thread: decoding waits
    // meanwhile. Default: the frame is dropped.
    virtual void render(const PixelBuffer& /*frame*/) {}
};

}  // namespace vistamo
