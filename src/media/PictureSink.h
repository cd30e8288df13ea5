#pragma once

#include "media/PixelBuffer.h"

namespace vistamo {

// Receives one camera's decoded pictures in display order: a window's renderer, and whatever
// else shows or passes on the camera's picture. The decoder hands every picture to each of its
// sinks in turn, on its own thread.
class PictureSink {
public:
    virtual ~PictureSink() = default;

    // A decoded picture. Called on the decoder's own thread, one picture at a time; the picture
    // stays valid as long as the receiver keeps the reference. It must not wait for another
    // thread: decoding and the other sinks wait meanwhile.
    virtual void pictureDecoded(const PixelBuffer& frame) = 0;

    // The camera's stream begins anew (a new connection was verified); the pictures after this
    // call belong to it. Called on the decoder's own thread. Default: nothing.
    virtual void streamRestarted() {}
};

}  // namespace vistamo
