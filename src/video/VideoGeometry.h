#pragma once

#include <array>
#include <optional>

#include "media/DecodedFrame.h"
#include "video/Vertex.h"

namespace vistamo {

// The rectangle of the view (backing pixels, origin at the bottom left) that shows the video.
struct VideoViewport {
    float x = 0;
    float y = 0;
    float w = 0;
    float h = 0;
};

// Fits video of aspect `ratio` (width / height) into a view of `viewWidth` × `viewHeight`
// backing pixels: full width and bands above and below when the view is narrower than the
// video, full height and bands left and right otherwise; x and y are truncated to whole
// pixels. None when the ratio is 0, infinite or not a number, or the view is empty.
std::optional<VideoViewport> videoViewport(float viewWidth, float viewHeight, float ratio);

// The full-view quad of a frame `frameWidth` × `frameHeight` pixels: texture coordinates in
// pixels (rectangle textures), the frame's first row at the top of the screen.
VideoScreen videoQuad(float frameWidth, float frameHeight);

// The conversion the video shader applies: rgb = matrix × (yuv − offset), with yuv the three
// samples normalised to 0..1. `matrix` is column-major (as glUniformMatrix3fv takes it without
// transposing) and includes the range expansion.
struct YuvConversion {
    std::array<float, 9> matrix{};
    std::array<float, 3> offset{};
};
YuvConversion yuvConversion(YuvMatrix matrix, YuvRange range);

}  // namespace vistamo
