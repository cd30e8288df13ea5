#include "media/DecodedFrame.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <optional>

namespace vistamo {

namespace {

struct Layout {
    ChromaFormat chroma;
    bool fullRange;  // the deprecated "J" formats mean full range whatever the frame says
};

std::optional<Layout> layoutOf(int format) {
    switch (format) {
        case AV_PIX_FMT_YUV420P:
            return Layout{ChromaFormat::Yuv420, false};
        case AV_PIX_FMT_YUVJ420P:
            return Layout{ChromaFormat::Yuv420, true};
        case AV_PIX_FMT_YUV422P:
            return Layout{ChromaFormat::Yuv422, false};
        case AV_PIX_FMT_YUVJ422P:
            return Layout{ChromaFormat::Yuv422, true};
        case AV_PIX_FMT_YUV444P:
            return Layout{ChromaFormat::Yuv444, false};
        case AV_PIX_FMT_YUVJ444P:
            return Layout{ChromaFormat::Yuv444, true};
        default:
            return std::nullopt;
    }
}

int chromaShiftX(ChromaFormat chroma) { return chroma == ChromaFormat::Yuv444 ? 0 : 1; }
int chromaShiftY(ChromaFormat chroma) { return chroma == ChromaFormat::Yuv420 ? 1 : 0; }

// What the stream signals; when it signals nothing, the usual choice by picture size: BT.709
// for HD pictures, BT.601 below.
YuvMatrix matrixOf(const AVFrame& frame) {
    switch (frame.colorspace) {
        case AVCOL_SPC_BT709:
            return YuvMatrix::BT709;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_FCC:
            return YuvMatrix::BT601;
        default:
            return frame.height >= 720 ? YuvMatrix::BT709 : YuvMatrix::BT601;
    }
}

}  // namespace

void AVFrameDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }

PixelBuffer DecodedFrame::adopt(AVFramePtr frame) {
    if (!frame) {
        return nullptr;
    }
    const auto layout = layoutOf(frame->format);
    if (!layout || frame->width <= 0 || frame->height <= 0) {
        return nullptr;
    }
    for (int index = 0; index < kPlaneCount; ++index) {
        const int shiftX = index == 0 ? 0 : chromaShiftX(layout->chroma);
        const int planeWidth = (frame->width + (1 << shiftX) - 1) >> shiftX;
        if (frame->data[index] == nullptr || frame->linesize[index] < planeWidth) {
            return nullptr;
        }
    }
    return std::make_shared<const DecodedFrame>(Key(), std::move(frame));
}

DecodedFrame::DecodedFrame(Key, AVFramePtr frame) : frame_(std::move(frame)) {
    const auto layout = *layoutOf(frame_->format);
    width_ = frame_->width;
    height_ = frame_->height;
    chroma_ = layout.chroma;
    matrix_ = matrixOf(*frame_);
    range_ = layout.fullRange || frame_->color_range == AVCOL_RANGE_JPEG ? YuvRange::Full
                                                                         : YuvRange::Limited;
}

const uint8_t* DecodedFrame::plane(int index) const { return frame_->data[index]; }

int DecodedFrame::stride(int index) const { return frame_->linesize[index]; }

int DecodedFrame::planeWidth(int index) const {
    const int shift = index == 0 ? 0 : chromaShiftX(chroma_);
    return (width_ + (1 << shift) - 1) >> shift;
}

int DecodedFrame::planeHeight(int index) const {
    const int shift = index == 0 ? 0 : chromaShiftY(chroma_);
    return (height_ + (1 << shift) - 1) >> shift;
}

}  // namespace vistamo
