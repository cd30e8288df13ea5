#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MediaOptions.h"
#include "TestPattern.h"
#include "platform/Bytes.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vistamo::camera {

// One picture as the encoder finished it, split into the NAL units a viewer is sent.
struct EncodedPicture {
    // An IDR picture; then `sps` and `pps` hold the parameter sets it needs (without start
    // codes), else they are empty.
    bool keyFrame = false;
    Bytes sps;
    Bytes pps;
    // Its slices (NAL types 1 or 5), one or two as the options say, in stream order.
    std::vector<Bytes> slices;
    // Presentation time from the start of the stream.
    double timeSeconds = 0;
};

// The test picture encoded as H.264 by libx264 through libavcodec: every key frame an IDR
// picture with its parameter sets, a key frame every `gopFrames` pictures, at most one B picture
// in a row and never used as a reference (NAL header byte 0x01), one or two slices per picture.
// Supplementary units (SEI, delimiters) are dropped.
//
// Threads: one thread at a time. Encoding is synchronous; with B pictures on, the encoder gives
// each reference picture out one picture late.
class H264Encoder {
public:
    struct ContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    // An error text for people when libx264 is missing or refuses the options.
    static std::unique_ptr<H264Encoder> open(const MediaOptions& options, std::string& error);

    // Only open() makes one; the key keeps others out while letting it use std::make_unique.
    class Key {
        friend class H264Encoder;
        Key() = default;
    };
    H264Encoder(Key, const MediaOptions& options,
                std::unique_ptr<AVCodecContext, ContextDeleter> context,
                std::unique_ptr<AVFrame, FrameDeleter> frame,
                std::unique_ptr<AVPacket, PacketDeleter> packet);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Draws and encodes picture `frameNumber` (0, 1, 2, ... within one stream) and appends the
    // pictures that the encoder finished to `out`. An error text when encoding failed or the
    // encoder's output was not what this class promises; the encoder is of no further use then.
    std::optional<std::string> encode(int64_t frameNumber, std::vector<EncodedPicture>& out);

private:
    // Splits one finished packet into a picture; an error text when it is malformed.
    std::optional<std::string> takePacket(std::vector<EncodedPicture>& out);

    // Set once at construction.
    const size_t slicesPerPicture_;
    const TestPattern pattern_;
    const std::unique_ptr<AVCodecContext, ContextDeleter> context_;
    const std::unique_ptr<AVFrame, FrameDeleter> frame_;
    const std::unique_ptr<AVPacket, PacketDeleter> packet_;

    // The parameter sets last seen in the encoder's output.
    Bytes sps_;
    Bytes pps_;
};

}  // namespace vistamo::camera
