#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo::test {

// What encodeTestStream makes.
struct TestStreamOptions {
    int width = 320;
    int height = 240;
    int frames = 10;
    // One non-reference B picture between reference pictures (stream order I, P, B, P, B, ...),
    // else only I and P pictures.
    bool bFrames = false;
    // Pictures from one IDR picture to the next.
    int keyInterval = 250;
    // Slices per picture (1 or 2).
    int slices = 1;
    // Custom scaling matrices in the parameter sets (exercises their parsing).
    bool scalingMatrices = false;
};

// One NAL unit as a camera sends it: a 4-byte prefix (a start code) and the unit.
using CameraUnit = Bytes;

// A picture in stream (decode) order: its slices, and the frame number drawn into it.
struct TestPicture {
    std::vector<CameraUnit> slices;
    int frameNumber = 0;
    bool idr = false;
};

struct TestStream {
    CameraUnit sps;
    CameraUnit pps;
    std::vector<TestPicture> pictures;  // decode order
};

// Encodes `options.frames` pictures with libx264. Picture n carries frame number n (display
// order) as a row of bright and dark 16x16 blocks at the top left, readable with
// readFrameNumber after decoding. Aborts the test program when the encoder is missing.
TestStream encodeTestStream(const TestStreamOptions& options);

// The frame numbers `first` to `end` (not included), as a stream shows them in order.
inline std::vector<int> frameRange(int first, int end) {
    std::vector<int> numbers(static_cast<size_t>(end - first));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}

// The frame number drawn by encodeTestStream, read back from decoded luma; -1 when a block is
// neither clearly bright nor clearly dark.
int readFrameNumber(const uint8_t* luma, int stride, int width, int height);

// Bits of the frame number that fit the top row of a picture `width` pixels wide (at most 12).
int frameNumberBits(int width);

}  // namespace vistamo::test
