#include "media/JpegEncoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>

#include "platform/Log.h"

namespace vistamo {

namespace {

struct HandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct BufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

int subsamplingOf(ChromaFormat chroma) {
    switch (chroma) {
        case ChromaFormat::Yuv420:
            return TJSAMP_420;
        case ChromaFormat::Yuv422:
            return TJSAMP_422;
        case ChromaFormat::Yuv444:
            return TJSAMP_444;
    }
    return TJSAMP_420;
}

using Matrix3 = std::array<std::array<double, 3>, 3>;

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 product{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                product[i][j] += a[i][k] * b[k][j];
            }
        }
    }
    return product;
}

// (Y', Pb, Pr) -> (R', G', B') for luma weights kr, kb; Y' in 0..1, Pb and Pr in -0.5..0.5.
Matrix3 toRgb(double kr, double kb) {
    const double kg = 1 - kr - kb;
    return {{{1, 0, 2 * (1 - kr)},
             {1, -2 * (1 - kb) * kb / kg, -2 * (1 - kr) * kr / kg},
             {1, 2 * (1 - kb), 0}}};
}

// (R', G', B') -> (Y', Pb, Pr)
Matrix3 fromRgb(double kr, double kb) {
    const double kg = 1 - kr - kb;
    return {{{kr, kg, kb},
             {-kr / (2 * (1 - kb)), -kg / (2 * (1 - kb)), 0.5},
             {0.5, -kg / (2 * (1 - kr)), -kb / (2 * (1 - kr))}}};
}

uint8_t toByte(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// The planes TurboJPEG reads: plane sizes rounded up to whole chroma samples (a 33 x 17
// picture in 4:2:0 has a 34 x 18 luma plane).
struct JpegPlanes {
    std::array<Bytes, 3> bytes;
    std::array<int, 3> width{};
    std::array<int, 3> height{};
};

// The frame's samples as full-range BT.601 in TurboJPEG's plane sizes, the last row and column
// repeated into the padding. Each output luma sample also depends on the chroma sample that
// covers it, since the two matrices weigh the colour components differently.
JpegPlanes toJfif(const DecodedFrame& frame, int subsampling) {
    const bool bt709 = frame.matrix() == YuvMatrix::BT709;
    const Matrix3 convert =
        multiply(fromRgb(0.299, 0.114), bt709 ? toRgb(0.2126, 0.0722) : toRgb(0.299, 0.114));
    const bool limited = frame.range() == YuvRange::Limited;
    const double lumaScale = (limited ? 255.0 / 219.0 : 1.0) / 255.0;
    const double lumaOffset = limited ? 16.0 : 0.0;
    const double chromaScale = (limited ? 255.0 / 224.0 : 1.0) / 255.0;
    const int shiftX = frame.chromaFormat() == ChromaFormat::Yuv444 ? 0 : 1;
    const int shiftY = frame.chromaFormat() == ChromaFormat::Yuv420 ? 1 : 0;

    JpegPlanes out;
    for (int index = 0; index < 3; ++index) {
        out.width[index] = tjPlaneWidth(index, frame.width(), subsampling);
        out.height[index] = tjPlaneHeight(index, frame.height(), subsampling);
        out.bytes[index].resize(static_cast<size_t>(out.width[index]) * out.height[index]);
    }
    // The chroma sample at chroma position (x, y), clamped into the frame's plane.
    const auto chromaAt = [&](int x, int y) {
        const ptrdiff_t sx = std::min(x, frame.planeWidth(1) - 1);
        const ptrdiff_t sy = std::min(y, frame.planeHeight(1) - 1);
        return std::pair{(frame.plane(1)[sy * frame.stride(1) + sx] - 128.0) * chromaScale,
                         (frame.plane(2)[sy * frame.stride(2) + sx] - 128.0) * chromaScale};
    };
    for (int y = 0; y < out.height[1]; ++y) {
        for (int x = 0; x < out.width[1]; ++x) {
            const auto [pb, pr] = chromaAt(x, y);
            const size_t at = static_cast<size_t>(y) * out.width[1] + x;
            out.bytes[1][at] = toByte(128.0 + 255.0 * (convert[1][1] * pb + convert[1][2] * pr));
            out.bytes[2][at] = toByte(128.0 + 255.0 * (convert[2][1] * pb + convert[2][2] * pr));
        }
    }
    for (int y = 0; y < out.height[0]; ++y) {
        const int sy = std::min(y, frame.height() - 1);
        const uint8_t* lumaRow = frame.plane(0) + static_cast<ptrdiff_t>(sy) * frame.stride(0);
        for (int x = 0; x < out.width[0]; ++x) {
            const int sx = std::min(x, frame.width() - 1);
            const double luma = (lumaRow[sx] - lumaOffset) * lumaScale;
            const auto [pb, pr] = chromaAt(sx >> shiftX, sy >> shiftY);
            out.bytes[0][static_cast<size_t>(y) * out.width[0] + x] =
                toByte(255.0 * (convert[0][0] * luma + convert[0][1] * pb + convert[0][2] * pr));
        }
    }
    return out;
}

// Whether TurboJPEG can read the frame's own planes: JFIF samples, and planes no smaller than
// TurboJPEG's plane sizes (always so for H.264 pictures, whose 4:2:0 sizes are even).
bool takesPlanesAsTheyAre(const DecodedFrame& frame, int subsampling) {
    if (frame.matrix() != YuvMatrix::BT601 || frame.range() != YuvRange::Full) {
        return false;
    }
    for (int index = 0; index < 3; ++index) {
        if (tjPlaneWidth(index, frame.width(), subsampling) != frame.planeWidth(index) ||
            tjPlaneHeight(index, frame.height(), subsampling) != frame.planeHeight(index)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<Bytes> encodeJpeg(const DecodedFrame& frame, int quality) {
    const int subsampling = subsamplingOf(frame.chromaFormat());
    std::array<const unsigned char*, 3> planes{};
    std::array<int, 3> strides{};
    JpegPlanes converted;
    if (takesPlanesAsTheyAre(frame, subsampling)) {
        for (int index = 0; index < 3; ++index) {
            planes[index] = frame.plane(index);
            strides[index] = frame.stride(index);
        }
    } else {
        converted = toJfif(frame, subsampling);
        for (int index = 0; index < 3; ++index) {
            planes[index] = converted.bytes[index].data();
            strides[index] = converted.width[index];
        }
    }

    std::unique_ptr<void, HandleDeleter> handle(tjInitCompress());
    if (!handle) {
        logLine(std::string("cannot start a JPEG compressor: ") + tjGetErrorStr2(nullptr));
        return std::nullopt;
    }
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    const int result =
        tjCompressFromYUVPlanes(handle.get(), planes.data(), frame.width(), strides.data(),
                                frame.height(), subsampling, &output, &outputSize, quality, 0);
    std::unique_ptr<unsigned char, BufferDeleter> owned(output);
    if (result != 0) {
        logLine(std::string("cannot compress a snapshot: ") + tjGetErrorStr2(handle.get()));
        return std::nullopt;
    }
    return Bytes(output, output + outputSize);
}

}  // namespace vistamo
