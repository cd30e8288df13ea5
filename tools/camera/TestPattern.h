#pragma once

#include <cstdint>

namespace vistamo::camera {

// The moving test picture the camera encodes, with the picture's frame number drawn into it so
// that a test can read it back from decoded pixels.
//
// Frame-number row (luma plane, 8-bit YUV 4:2:0, limited range):
//   - 12 blocks of 16 x 16 pixels side by side at the top left: block i covers columns 16 i to
//     16 i + 15 and rows 0 to 15, so every block is one macroblock of the picture.
//   - Block i shows bit i of the frame number modulo 4096 (the least significant bit first):
//     luma 235 (white) for a 1, luma 16 (black) for a 0. Chroma under the blocks is 128.
//   - To read it back, average the centre of each block and compare with mid-grey.
//     readFrameNumber in tests/support/TestStream.h does that; the tests' own encoded streams
//     carry the same row, so one reader serves both. Change the two together.
// The rest of the picture moves from one frame to the next: a diagonal luma wave, colour
// gradients and a white box that bounces from side to side below the row.
//
// The picture must be at least kMinWidth x kMinHeight, and its sizes even.
class TestPattern {
public:
    static constexpr int kBits = 12;
    static constexpr int kBlockSize = 16;
    static constexpr uint8_t kOneLuma = 235;
    static constexpr uint8_t kZeroLuma = 16;
    // The row, and a second row of macroblocks for the box (and for two slices).
    static constexpr int kMinWidth = kBits * kBlockSize;  // 192
    static constexpr int kMinHeight = 2 * kBlockSize;     // 32

    // One plane of the caller's picture; `stride` bytes from one row to the next.
    struct Plane {
        uint8_t* data = nullptr;
        int stride = 0;
    };

    TestPattern(int width, int height);

    // Draws picture `frameNumber` into the three planes (chroma at half width and height).
    void draw(int64_t frameNumber, const Plane& luma, const Plane& cb, const Plane& cr) const;

private:
    void drawBackground(int64_t frameNumber, const Plane& luma, const Plane& cb,
                        const Plane& cr) const;
    void drawFrameNumber(int64_t frameNumber, const Plane& luma, const Plane& cb,
                         const Plane& cr) const;

    // Set once at construction.
    const int width_;
    const int height_;
};

}  // namespace vistamo::camera
