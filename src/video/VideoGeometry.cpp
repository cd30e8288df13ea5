#include "video/VideoGeometry.h"

#include <cmath>

namespace vistamo {

std::optional<VideoViewport> videoViewport(float viewWidth, float viewHeight, float ratio) {
    if (ratio == 0 || !std::isfinite(ratio) || !(viewWidth > 0) || !(viewHeight > 0)) {
        return std::nullopt;
    }
    VideoViewport viewport;
    if (viewWidth / viewHeight <= ratio) {
        viewport.w = viewWidth;
        viewport.h = viewWidth / ratio;
        viewport.x = 0;
        viewport.y = std::trunc((viewHeight - viewport.h) * 0.5f);
    } else {
        viewport.h = viewHeight;
        viewport.w = ratio * viewHeight;
        viewport.x = std::trunc((viewWidth - viewport.w) * 0.5f);
        viewport.y = 0;
    }
    return viewport;
}

VideoScreen videoQuad(float frameWidth, float frameHeight) {
    return VideoScreen{
        Vertex{{1.0f, -1.0f}, {frameWidth, frameHeight}},
        Vertex{{-1.0f, -1.0f}, {0, frameHeight}},
        Vertex{{1.0f, 1.0f}, {frameWidth, 0}},
        Vertex{{-1.0f, 1.0f}, {0, 0}},
    };
}

YuvConversion yuvConversion(YuvMatrix matrix, YuvRange range) {
    // Luma weights of red and blue; green takes the rest.
    const float kr = matrix == YuvMatrix::BT709 ? 0.2126f : 0.299f;
    const float kb = matrix == YuvMatrix::BT709 ? 0.0722f : 0.114f;
    const float kg = 1.0f - kr - kb;
    // Limited range puts luma in 16..235 and chroma in 16..240 of 255.
    const bool limited = range == YuvRange::Limited;
    const float lumaScale = limited ? 255.0f / 219.0f : 1.0f;
    const float chromaScale = limited ? 255.0f / 224.0f : 1.0f;

    YuvConversion conversion;
    conversion.offset = {limited ? 16.0f / 255.0f : 0.0f, 128.0f / 255.0f, 128.0f / 255.0f};
    // Columns: what Y', Cb and Cr each add to R', G' and B'.
    conversion.matrix = {
        lumaScale,
        lumaScale,
        lumaScale,
        0.0f,
        -2.0f * kb * (1.0f - kb) / kg * chromaScale,
        2.0f * (1.0f - kb) * chromaScale,
        2.0f * (1.0f - kr) * chromaScale,
        -2.0f * kr * (1.0f - kr) / kg * chromaScale,
        0.0f,
    };
    return conversion;
}

}  // namespace vistamo
