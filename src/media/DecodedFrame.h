#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "media/PixelBuffer.h"

extern "C" {
struct AVFrame;
}

namespace vistamo {

// Owns one AVFrame (and with it one reference to each of its buffers).
struct AVFrameDeleter {
    void operator()(AVFrame* frame) const;
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

enum class ChromaFormat { Yuv420, Yuv422, Yuv444 };
// The matrix that turns the frame's Y'CbCr into R'G'B'.
enum class YuvMatrix { BT601, BT709 };
// Limited: luma 16..235, chroma 16..240. Full: 0..255.
enum class YuvRange { Limited, Full };

// One decoded picture: a reference to the decoder's own buffers, in 8-bit planar Y'CbCr with
// three planes. Immutable once made; its pixels live as long as the last PixelBuffer to it, and
// the decoder never writes into them again, so any thread may read them.
struct DecodedFrame {
public:
    static constexpr int kPlaneCount = 3;

    // Takes `frame` (already cropped) when it is 8-bit planar Y'CbCr 4:2:0, 4:2:2 or 4:4:4 with
    // sane dimensions and strides; none otherwise.
    static PixelBuffer adopt(AVFramePtr frame);

    int width() const { return width_; }
    int height() const { return height_; }
    ChromaFormat chromaFormat() const { return chroma_; }
    YuvMatrix matrix() const { return matrix_; }
    YuvRange range() const { return range_; }

    // Plane 0 is luma, 1 is Cb, 2 is Cr. A plane holds planeHeight rows of planeWidth bytes,
    // each row `stride` bytes after the previous one.
    const uint8_t* plane(int index) const;
    int stride(int index) const;
    int planeWidth(int index) const;
    int planeHeight(int index) const;

    const AVFrame& avFrame() const { return *frame_; }

    // When the picture was made, right after its decoding: where a picture's time goes between
    // the decoder and the screen is measured from here.
    std::chrono::steady_clock::time_point madeAt() const { return madeAt_; }

    // Only `adopt` makes frames; the key keeps the constructor usable by make_shared alone.
    class Key {
        friend struct DecodedFrame;
        Key() = default;
    };
    DecodedFrame(Key, AVFramePtr frame);
    DecodedFrame(const DecodedFrame&) = delete;
    DecodedFrame& operator=(const DecodedFrame&) = delete;

private:
    AVFramePtr frame_;
    std::chrono::steady_clock::time_point madeAt_ = std::chrono::steady_clock::now();
    int width_ = 0;
    int height_ = 0;
    ChromaFormat chroma_ = ChromaFormat::Yuv420;
    YuvMatrix matrix_ = YuvMatrix::BT601;
    YuvRange range_ = YuvRange::Limited;
};

}  // namespace vistamo
