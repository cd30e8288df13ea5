#include "H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "AnnexB.h"

namespace vistamo::camera {

namespace {

std::string avError(const char* what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

// The encoder settings behind the class's promises. Key frames only at the interval (no scene
// cuts) and always IDR (closed groups); B pictures fixed at one in a row and never references
// (no pyramid); no look-ahead and one thread, so that no picture waits longer than the B
// reordering needs; parameter sets repeated before every IDR picture in the Annex B output.
std::string x264Parameters(const MediaOptions& options) {
    const std::string gop = std::to_string(options.gopFrames);
    return "keyint=" + gop + ":min-keyint=" + gop +
           ":scenecut=0:open-gop=0:bframes=" + (options.bFrames ? "1" : "0") +
           ":b-adapt=0:b-pyramid=none:rc-lookahead=0:mbtree=0:sync-lookahead=0:threads=1" +
           ":slices=" + (options.twoSlices ? "2" : "1") + ":repeat-headers=1:annexb=1:aud=0";
}

}  // namespace

void H264Encoder::ContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void H264Encoder::FrameDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }

void H264Encoder::PacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }

std::unique_ptr<H264Encoder> H264Encoder::open(const MediaOptions& options, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        error = "the H.264 encoder libx264 is not available in libavcodec";
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        error = "out of memory for the H.264 encoder";
        return nullptr;
    }
    context->width = options.width;
    context->height = options.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, options.framesPerSecond};
    context->framerate = AVRational{options.framesPerSecond, 1};
    context->gop_size = options.gopFrames;
    context->max_b_frames = options.bFrames ? 1 : 0;
    context->thread_count = 1;
    int result = av_opt_set(context->priv_data, "preset", "veryfast", 0);
    if (result >= 0) {
        result = av_opt_set(context->priv_data, "x264-params", x264Parameters(options).c_str(), 0);
    }
    if (result < 0) {
        error = avError("cannot set the H.264 encoder's options", result);
        return nullptr;
    }
    if ((result = avcodec_open2(context.get(), codec, nullptr)) < 0) {
        error = avError("cannot open the H.264 encoder", result);
        return nullptr;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = options.width;
    frame->height = options.height;
    if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
        error = avError("cannot allocate a picture", result);
        return nullptr;
    }
    return std::make_unique<H264Encoder>(Key(), options, std::move(context), std::move(frame),
                                         std::move(packet));
}

H264Encoder::H264Encoder(Key, const MediaOptions& options,
                         std::unique_ptr<AVCodecContext, ContextDeleter> context,
                         std::unique_ptr<AVFrame, FrameDeleter> frame,
                         std::unique_ptr<AVPacket, PacketDeleter> packet)
    : slicesPerPicture_(options.twoSlices ? 2 : 1),
      pattern_(options.width, options.height),
      context_(std::move(context)),
      frame_(std::move(frame)),
      packet_(std::move(packet)) {}

H264Encoder::~H264Encoder() = default;

std::optional<std::string> H264Encoder::encode(int64_t frameNumber,
                                               std::vector<EncodedPicture>& out) {
    // The encoder may still hold the previous picture's buffer.
    int result = av_frame_make_writable(frame_.get());
    if (result < 0) {
        return avError("cannot reuse the picture buffer", result);
    }
    pattern_.draw(frameNumber, {frame_->data[0], frame_->linesize[0]},
                  {frame_->data[1], frame_->linesize[1]}, {frame_->data[2], frame_->linesize[2]});
    frame_->pts = frameNumber;
    if ((result = avcodec_send_frame(context_.get(), frame_.get())) < 0) {
        return avError("the H.264 encoder refused a picture", result);
    }
    for (;;) {
        result = avcodec_receive_packet(context_.get(), packet_.get());
        if (result == AVERROR(EAGAIN)) {
            return std::nullopt;
        }
        if (result < 0) {
            return avError("the H.264 encoder failed", result);
        }
        auto error = takePacket(out);
        av_packet_unref(packet_.get());
        if (error) {
            return error;
        }
    }
}

std::optional<std::string> H264Encoder::takePacket(std::vector<EncodedPicture>& out) {
    if (!packet_->data || packet_->size <= 0) {
        return "the H.264 encoder gave an empty packet";
    }
    const auto units = splitAnnexB(ByteView(packet_->data, static_cast<size_t>(packet_->size)));
    if (!units) {
        return "the H.264 encoder's output is not an Annex B stream";
    }
    EncodedPicture picture;
    size_t idrSlices = 0;
    for (const ByteView unit : *units) {
        switch (unit[0] & 0x1F) {
            case NalSps:
                sps_.assign(unit.begin(), unit.end());
                break;
            case NalPps:
                pps_.assign(unit.begin(), unit.end());
                break;
            case NalIdrSlice:
                ++idrSlices;
                picture.slices.emplace_back(unit.begin(), unit.end());
                break;
            case NalSlice:
                picture.slices.emplace_back(unit.begin(), unit.end());
                break;
            default:
                // SEI and the like: nothing a viewer needs.
                break;
        }
    }
    if (picture.slices.size() != slicesPerPicture_) {
        return "the H.264 encoder gave " + std::to_string(picture.slices.size()) +
               " slices for a picture instead of " + std::to_string(slicesPerPicture_);
    }
    if (idrSlices != 0 && idrSlices != picture.slices.size()) {
        return "the H.264 encoder mixed IDR and other slices in a picture";
    }
    picture.keyFrame = idrSlices != 0;
    if (picture.keyFrame) {
        if (sps_.empty() || pps_.empty()) {
            return "the H.264 encoder gave a key frame before any parameter sets";
        }
        picture.sps = sps_;
        picture.pps = pps_;
    }
    picture.timeSeconds = static_cast<double>(packet_->pts) * av_q2d(context_->time_base);
    out.push_back(std::move(picture));
    return std::nullopt;
}

}  // namespace vistamo::camera
