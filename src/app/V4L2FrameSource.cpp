#include "app/V4L2FrameSource.h"

#include <chrono>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include "platform/Log.h"

namespace vistamo {

namespace {

// How long a read waits before asking a silent camera again.
constexpr auto kRetryInterval = std::chrono::milliseconds(5);

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

void V4L2FrameSource::FormatCloser::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}
void V4L2FrameSource::CodecCloser::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void V4L2FrameSource::PacketCloser::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void V4L2FrameSource::FrameCloser::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void V4L2FrameSource::ScalerCloser::operator()(SwsContext* scaler) const {
    sws_freeContext(scaler);
}

V4L2FrameSource::V4L2FrameSource(std::string device) : device_(std::move(device)) {}

V4L2FrameSource::~V4L2FrameSource() = default;

std::optional<std::string> V4L2FrameSource::open() {
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });

    const AVInputFormat* format = av_find_input_format("video4linux2");
    if (format == nullptr) {
        return std::string("this build of libavdevice cannot read V4L2 cameras");
    }
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) {
        return errorText(AVERROR(ENOMEM));
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "video_size", kVideoSize, 0);
    // On failure avformat_open_input frees the context itself.
    const int opened = avformat_open_input(&context, device_.c_str(), format, &options);
    av_dict_free(&options);
    if (opened < 0) {
        return device_ + ": " + errorText(opened);
    }
    input_.reset(context);

    const AVCodec* codec = nullptr;
    streamIndex_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (streamIndex_ < 0 || codec == nullptr) {
        return device_ + ": no video stream that can be decoded";
    }
    const AVCodecParameters* parameters = input_->streams[streamIndex_]->codecpar;
    decoder_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!decoder_ || !packet_ || !frame_) {
        return errorText(AVERROR(ENOMEM));
    }
    int result = avcodec_parameters_to_context(decoder_.get(), parameters);
    if (result >= 0) {
        result = avcodec_open2(decoder_.get(), codec, nullptr);
    }
    if (result < 0) {
        return device_ + ": cannot decode the camera's pictures: " + errorText(result);
    }
    return std::nullopt;
}

std::optional<QImage> V4L2FrameSource::readFrame(const std::atomic<bool>& stopping) {
    if (!input_ || !decoder_) {
        return std::nullopt;
    }
    while (!stopping.load()) {
        const int read = av_read_frame(input_.get(), packet_.get());
        if (read == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(kRetryInterval);
            continue;
        }
        if (read < 0) {
            logLine("the camera " + device_ + " stopped: " + errorText(read));
            return std::nullopt;
        }
        const bool ours = packet_->stream_index == streamIndex_;
        const int sent = ours ? avcodec_send_packet(decoder_.get(), packet_.get()) : 0;
        av_packet_unref(packet_.get());
        if (!ours) {
            continue;
        }
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            if (!decodeErrorLogged_) {
                logLine("a picture of the camera " + device_ +
                        " could not be decoded: " + errorText(sent));
                decodeErrorLogged_ = true;
            }
            continue;
        }
        if (avcodec_receive_frame(decoder_.get(), frame_.get()) < 0) {
            continue;
        }
        auto image = convert(*frame_);
        av_frame_unref(frame_.get());
        if (image) {
            return image;
        }
    }
    return std::nullopt;
}

std::optional<QImage> V4L2FrameSource::convert(const AVFrame& frame) {
    const int width = frame.width;
    const int height = frame.height;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || frame.format < 0) {
        logLine("a camera picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels was dropped");
        return std::nullopt;
    }
    SwsContext* scaler = sws_getCachedContext(
        scaler_.release(), width, height, static_cast<AVPixelFormat>(frame.format), width, height,
        AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (scaler == nullptr) {
        logLine("a camera picture in pixel format " + std::to_string(frame.format) +
                " cannot be converted");
        return std::nullopt;
    }
    QImage image(width, height, QImage::Format_RGBA8888);
    if (image.isNull()) {
        return std::nullopt;
    }
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    const int rows = sws_scale(scaler, frame.data, frame.linesize, 0, height, planes, strides);
    if (rows != height) {
        return std::nullopt;
    }
    return image;
}

}  // namespace vistamo
