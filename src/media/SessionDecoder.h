#pragma once

#include <cstdint>
#include <memory>

#include "media/ZH264DecoderDelegate.h"
#include "platform/Bytes.h"

namespace vistamo {

// The video decoder as a session uses it. All operations are called on the session's "Client
// Queue" except `takePicture` (main thread); byte views are valid only during the call, so the
// decoder copies what it keeps.
class SessionDecoder {
public:
    virtual ~SessionDecoder() = default;

    virtual void setDelegate(std::weak_ptr<ZH264DecoderDelegate> delegate) = 0;
    virtual void start() = 0;
    // Parameter sets, each with its 4-byte prefix.
    virtual void createFormatDesc(ByteView sps, ByteView pps) = 0;
    // One NAL unit with its 4-byte prefix: a whole picture.
    virtual void decompressFrame(ByteView data) = 0;
    // One of the two slices of a picture sent in two messages.
    virtual void decodeFrameWidthMultipleSlice(ByteView data) = 0;
    // Saves the next displayed frame as snapshot number `pictureId`.
    virtual void takePicture(long pictureId) = 0;
};

}  // namespace vistamo
