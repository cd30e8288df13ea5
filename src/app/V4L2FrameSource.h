#pragma once

#include <memory>
#include <string>

#include "app/PreviewFrameSource.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace vistamo {

// A V4L2 webcam read through libavdevice, asked for 1280 × 720 pictures, each decoded (raw or
// compressed, as the camera sends) and converted to RGBA. The device is opened without
// blocking, so a read notices `stopping` within a few milliseconds even when the camera sends
// nothing. Threads as PreviewFrameSource says.
class V4L2FrameSource final : public PreviewFrameSource {
public:
    static constexpr const char* kDefaultDevice = "/dev/video0";
    static constexpr const char* kVideoSize = "1280x720";
    // Pictures larger than this on either side are dropped as malformed.
    static constexpr int kMaxSide = 8192;

    explicit V4L2FrameSource(std::string device = kDefaultDevice);
    ~V4L2FrameSource() override;

    std::optional<std::string> open() override;
    std::optional<QImage> readFrame(const std::atomic<bool>& stopping) override;

private:
    struct FormatCloser {
        void operator()(AVFormatContext* context) const;
    };
    struct CodecCloser {
        void operator()(AVCodecContext* context) const;
    };
    struct PacketCloser {
        void operator()(AVPacket* packet) const;
    };
    struct FrameCloser {
        void operator()(AVFrame* frame) const;
    };
    struct ScalerCloser {
        void operator()(SwsContext* scaler) const;
    };

    std::optional<QImage> convert(const AVFrame& frame);

    // Set once by `open` on the main thread; afterwards the reader thread's only.
    const std::string device_;
    std::unique_ptr<AVFormatContext, FormatCloser> input_;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder_;
    std::unique_ptr<AVPacket, PacketCloser> packet_;
    std::unique_ptr<AVFrame, FrameCloser> frame_;
    std::unique_ptr<SwsContext, ScalerCloser> scaler_;
    int streamIndex_ = -1;
    bool decodeErrorLogged_ = false;
};

}  // namespace vistamo
