#pragma once

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

#include <atomic>
#include <cstring>

#include "media/DecodedFrame.h"

namespace vistamo::test {

struct FreeCounter {
    std::atomic<int> frees{0};
};

struct SyntheticFrameOptions {
    int width = 16;
    int height = 16;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    uint8_t y = 128, cb = 128, cr = 128;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_MPEG;
    FreeCounter* counter = nullptr;  // counts the frees of the frame's one buffer
};

// A frame filled with one colour, its three planes in one buffer.
inline PixelBuffer makeSyntheticFrame(const SyntheticFrameOptions& options) {
    const int shiftX = options.format == AV_PIX_FMT_YUV444P ? 0 : 1;
    const int shiftY = options.format == AV_PIX_FMT_YUV420P ? 1 : 0;
    const int chromaWidth = (options.width + (1 << shiftX) - 1) >> shiftX;
    const int chromaHeight = (options.height + (1 << shiftY) - 1) >> shiftY;
    const size_t lumaSize = static_cast<size_t>(options.width) * options.height;
    const size_t chromaSize = static_cast<size_t>(chromaWidth) * chromaHeight;
    auto* data = static_cast<uint8_t*>(av_malloc(lumaSize + 2 * chromaSize));
    std::memset(data, options.y, lumaSize);
    std::memset(data + lumaSize, options.cb, chromaSize);
    std::memset(data + lumaSize + chromaSize, options.cr, chromaSize);

    AVFramePtr frame(av_frame_alloc());
    frame->buf[0] = av_buffer_create(
        data, lumaSize + 2 * chromaSize,
        [](void* opaque, uint8_t* bytes) {
            if (opaque != nullptr) {
                ++static_cast<FreeCounter*>(opaque)->frees;
            }
            av_free(bytes);
        },
        options.counter, 0);
    frame->format = options.format;
    frame->width = options.width;
    frame->height = options.height;
    frame->colorspace = options.colorspace;
    frame->color_range = options.range;
    frame->data[0] = data;
    frame->data[1] = data + lumaSize;
    frame->data[2] = data + lumaSize + chromaSize;
    frame->linesize[0] = options.width;
    frame->linesize[1] = chromaWidth;
    frame->linesize[2] = chromaWidth;
    return DecodedFrame::adopt(std::move(frame));
}

}  // namespace vistamo::test
