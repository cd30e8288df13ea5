#pragma once

#include <cstdint>
#include <memory>

#include "media/PictureSink.h"
#include "platform/Bytes.h"

namespace vistamo {

// What a decoder has done so far, for the statistics shown over the video.
struct DecoderStatistics {
    uint64_t shownPictures = 0;
    uint64_t droppedPictures = 0;
    uint64_t receivedBytes = 0;
    // Recent pictures' decoding time, smoothed; 0 before the first.
    double decodeMilliseconds = 0;
    int32_t holdPictures = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The video decoder as a session uses it. All operations are called on the session's "Client
// Queue" except `takePicture` (main thread); byte views are valid only during the call, so the
// decoder copies what it keeps.
class SessionDecoder {
public:
    virtual ~SessionDecoder() = default;

    // The sinks the decoded pictures go to, any number; one is added once. Any thread. A sink
    // that has gone is dropped from the list by itself.
    virtual void addPictureSink(std::weak_ptr<PictureSink> sink) = 0;
    virtual void removePictureSink(const PictureSink* sink) = 0;
    // The camera's stream begins anew: each sink hears it before the pictures that follow.
    virtual void streamRestarted() {}
    virtual void start() = 0;
    // Parameter sets, each with its 4-byte prefix.
    virtual void createFormatDesc(ByteView sps, ByteView pps) = 0;
    // One NAL unit with its 4-byte prefix: a whole picture.
    virtual void decodeFrame(ByteView data) = 0;
    // One of the two slices of a picture sent in two messages.
    virtual void decodeTwoSlicePicture(ByteView data) = 0;
    // Saves the next displayed frame as snapshot number `pictureId`.
    virtual void takePicture(long pictureId) = 0;
    // Any thread.
    virtual DecoderStatistics statistics() const { return {}; }
};

}  // namespace vistamo
