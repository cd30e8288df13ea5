#include "TestPattern.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace vistamo::camera {

namespace {

// Limited-range luma runs from 16 to 235; the wave climbs and falls over twice that span.
constexpr int kLumaSpan = 219;
constexpr int kBoxSize = 32;

uint8_t* row(const TestPattern::Plane& plane, int y) {
    return plane.data + static_cast<std::ptrdiff_t>(y) * plane.stride;
}

}  // namespace

TestPattern::TestPattern(int width, int height) : width_(width), height_(height) {}

void TestPattern::draw(int64_t frameNumber, const Plane& luma, const Plane& cb,
                       const Plane& cr) const {
    drawBackground(frameNumber, luma, cb, cr);
    drawFrameNumber(frameNumber, luma, cb, cr);
}

void TestPattern::drawBackground(int64_t frameNumber, const Plane& luma, const Plane& cb,
                                 const Plane& cr) const {
    const int phase = static_cast<int>(frameNumber % (2 * kLumaSpan)) * 4;
    for (int y = 0; y < height_; ++y) {
        uint8_t* out = row(luma, y);
        for (int x = 0; x < width_; ++x) {
            const int v = (x + y + phase) % (2 * kLumaSpan);
            out[x] = static_cast<uint8_t>(16 + (v < kLumaSpan ? v : 2 * kLumaSpan - 1 - v));
        }
    }
    const int shift = static_cast<int>(frameNumber % 256);
    for (int y = 0; y < height_ / 2; ++y) {
        uint8_t* outCb = row(cb, y);
        uint8_t* outCr = row(cr, y);
        for (int x = 0; x < width_ / 2; ++x) {
            outCb[x] = static_cast<uint8_t>(64 + (x + shift) % 128);
            outCr[x] = static_cast<uint8_t>(64 + (y + 2 * shift) % 128);
        }
    }
    // A box bouncing between the left and right edges, below the frame-number row.
    const int travel = width_ - kBoxSize;
    const int step = static_cast<int>(frameNumber * 6 % (2 * travel));
    const int boxX = step < travel ? step : 2 * travel - step;
    const int boxY = std::max(kBlockSize + 4, (height_ - kBoxSize) / 2);
    for (int y = boxY; y < std::min(height_, boxY + kBoxSize); ++y) {
        std::memset(row(luma, y) + boxX, kOneLuma, kBoxSize);
    }
}

void TestPattern::drawFrameNumber(int64_t frameNumber, const Plane& luma, const Plane& cb,
                                  const Plane& cr) const {
    for (int i = 0; i < kBits; ++i) {
        const bool one = (frameNumber >> i & 1) != 0;
        const int left = i * kBlockSize;
        for (int y = 0; y < kBlockSize; ++y) {
            std::memset(row(luma, y) + left, one ? kOneLuma : kZeroLuma, kBlockSize);
        }
        for (int y = 0; y < kBlockSize / 2; ++y) {
            std::memset(row(cb, y) + left / 2, 128, kBlockSize / 2);
            std::memset(row(cr, y) + left / 2, 128, kBlockSize / 2);
        }
    }
}

}  // namespace vistamo::camera
