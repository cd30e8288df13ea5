#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdint>

#include "media/DecodedFrame.h"

namespace vistamo::test {

struct Yuv {
    uint8_t y, cb, cr;
};

// Colours of 8-bit Y'CbCr as cameras send them.
inline constexpr Yuv kRed601Limited{81, 90, 240};
inline constexpr Yuv kBlue601Limited{41, 240, 110};
inline constexpr Yuv kGreen709Full{182, 30, 12};
inline constexpr Yuv kWhite709Full{255, 128, 128};

struct FrameSpec {
    int width = 320;
    int height = 180;
    Yuv left = kRed601Limited;
    Yuv right = kBlue601Limited;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    AVColorSpace colorspace = AVCOL_SPC_BT470BG;
    AVColorRange range = AVCOL_RANGE_MPEG;
};

// A frame whose left half is one colour and right half another, in planes with padded rows
// (as decoders make them), so the upload must honour the stride.
inline PixelBuffer makeFrame(const FrameSpec& spec) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = spec.format;
    frame->width = spec.width;
    frame->height = spec.height;
    frame->colorspace = spec.colorspace;
    frame->color_range = spec.range;
    if (av_frame_get_buffer(frame.get(), 64) < 0) {
        return nullptr;
    }
    const int shiftX = spec.format == AV_PIX_FMT_YUV444P ? 0 : 1;
    const int shiftY = spec.format == AV_PIX_FMT_YUV420P ? 1 : 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? spec.width : (spec.width + (1 << shiftX) - 1) >> shiftX;
        const int height = plane == 0 ? spec.height : (spec.height + (1 << shiftY) - 1) >> shiftY;
        for (int row = 0; row < height; ++row) {
            uint8_t* line =
                frame->data[plane] + static_cast<ptrdiff_t>(row) * frame->linesize[plane];
            // The padding gets a colour of its own: it must never show.
            std::fill(line, line + frame->linesize[plane], uint8_t{255});
            for (int x = 0; x < width; ++x) {
                const Yuv& colour = x < width / 2 ? spec.left : spec.right;
                line[x] = plane == 0 ? colour.y : plane == 1 ? colour.cb : colour.cr;
            }
        }
    }
    return DecodedFrame::adopt(std::move(frame));
}

}  // namespace vistamo::test
