#pragma once

#include <memory>

#include "media/DecodedFrame.h"
#include "media/H264ParameterSets.h"

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
}

namespace vistamo {

struct AVCodecContextDeleter {
    void operator()(AVCodecContext* context) const;
};
struct AVPacketDeleter {
    void operator()(AVPacket* packet) const;
};
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;

// Decodes the samples of one H.264 stream with libavcodec and returns each sample's picture as
// soon as the sample is decoded, in decode order, not in the display order that libavcodec
// itself outputs (its output waits for the pictures that display earlier and is discarded).
//
// How: the context allocates every picture through `get_buffer2`, which notes the picture
// allocated while a sample is decoded; once avcodec_send_packet has returned, that picture is
// complete (threads work on the slices of one picture only, never on several pictures), and a
// new reference to it is handed out. Referenced buffers are never reused by libavcodec, so the
// pixels stay as they are while anyone holds the frame.
//
// Samples are AVCC: NAL units each preceded by its length in 4 big-endian bytes, as the format
// description's record says. Not thread-safe: one thread uses a session; frames it returns may
// go anywhere and outlive it.
class AvcodecH264Session {
public:
    // None when libavcodec cannot open a decoder for the description (logged).
    static std::unique_ptr<AvcodecH264Session> create(const H264ParameterSets& format);
    ~AvcodecH264Session();

    class Key {
        friend class AvcodecH264Session;
        Key() = default;
    };
    explicit AvcodecH264Session(Key);
    AvcodecH264Session(const AvcodecH264Session&) = delete;
    AvcodecH264Session& operator=(const AvcodecH264Session&) = delete;

    // Decodes one sample (data padded as libavcodec requires). The picture it made, or none
    // when decoding failed or the sample held no picture.
    PixelBuffer decode(const AVPacket& sample);

private:
    static int getBuffer(AVCodecContext* context, AVFrame* frame, int flags);

    std::unique_ptr<AVCodecContext, AVCodecContextDeleter> context_;
    // Receives libavcodec's own output, which is dropped.
    AVFramePtr discarded_;
    // The last picture allocated during the current avcodec_send_packet; owned by libavcodec.
    AVFrame* allocated_ = nullptr;
};

}  // namespace vistamo
