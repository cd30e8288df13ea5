#include "media/AvcodecH264Session.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <string>

#include "platform/Log.h"

namespace vistamo {

void AVCodecContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void AVPacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }

AvcodecH264Session::AvcodecH264Session(Key) : discarded_(av_frame_alloc()) {}

AvcodecH264Session::~AvcodecH264Session() = default;

std::unique_ptr<AvcodecH264Session> AvcodecH264Session::create(const H264ParameterSets& format) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        logLine("libavcodec has no H.264 decoder");
        return nullptr;
    }
    auto session = std::make_unique<AvcodecH264Session>(Key());
    session->context_.reset(avcodec_alloc_context3(codec));
    AVCodecContext* context = session->context_.get();
    if (context == nullptr || !session->discarded_) {
        return nullptr;
    }
    const ByteView record = format.avcC();
    context->extradata =
        static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context->extradata == nullptr) {
        return nullptr;
    }
    std::memcpy(context->extradata, record.data(), record.size());
    context->extradata_size = static_cast<int>(record.size());
    // Frame threads decode several pictures at once and hold each back until later samples
    // arrive; slice threads finish every picture within its own sample.
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    context->opaque = session.get();
    context->get_buffer2 = &AvcodecH264Session::getBuffer;
    const int result = avcodec_open2(context, codec, nullptr);
    if (result < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, reason, sizeof reason);
        logLine(std::string("cannot open the H.264 decoder: ") + reason);
        return nullptr;
    }
    return session;
}

int AvcodecH264Session::getBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
    auto* session = static_cast<AvcodecH264Session*>(context->opaque);
    const int result = avcodec_default_get_buffer2(context, frame, flags);
    if (result >= 0) {
        session->allocated_ = frame;
    }
    return result;
}

PixelBuffer AvcodecH264Session::decode(const AVPacket& sample) {
    allocated_ = nullptr;
    const int result = avcodec_send_packet(context_.get(), &sample);
    // libavcodec's own output, in display order and late: only its buffers are wanted back.
    while (avcodec_receive_frame(context_.get(), discarded_.get()) >= 0) {
        av_frame_unref(discarded_.get());
    }
    AVFrame* const picture = allocated_;
    allocated_ = nullptr;
    // The decoder may have dropped the picture again after an error within the sample.
    if (result < 0 || picture == nullptr || picture->buf[0] == nullptr) {
        return nullptr;
    }
    AVFramePtr frame(av_frame_alloc());
    if (!frame || av_frame_ref(frame.get(), picture) < 0 ||
        av_frame_apply_cropping(frame.get(), AV_FRAME_CROP_UNALIGNED) < 0) {
        return nullptr;
    }
    return DecodedFrame::adopt(std::move(frame));
}

}  // namespace vistamo
