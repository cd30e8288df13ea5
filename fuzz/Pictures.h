#pragma once

// For the fuzz targets that run the real H.264 decoder.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/log.h>
}

#include "media/DecodedFrame.h"
#include "media/PixelBuffer.h"

namespace vistamo::fuzz {

// Malformed input makes libavcodec talk a lot; once per process.
inline void quietDecoder() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
}

// Reads the first and last byte of every row of every plane of `frame`, so that a picture whose
// planes or strides are wrong shows up under ASan. Returns their sum.
inline unsigned touchPicture(const PixelBuffer& frame) {
    unsigned sum = 0;
    if (!frame) {
        return sum;
    }
    for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
        for (int y = 0; y < frame->planeHeight(index); ++y) {
            const uint8_t* row =
                frame->plane(index) + static_cast<ptrdiff_t>(y) * frame->stride(index);
            sum += row[0] + row[frame->planeWidth(index) - 1];
        }
    }
    return sum;
}

}  // namespace vistamo::fuzz
