#include "publish/RtspOutput.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "media/Muxing.h"

namespace vistamo {

namespace {

int interrupted(void* opaque) {
    const auto* asked = static_cast<const std::function<bool()>*>(opaque);
    return *asked && (*asked)() ? 1 : 0;
}

// What libavformat's error says, in this program's words. The RTSP client turns a server's
// answer into its HTTP-like errors; what breaks the connection itself is worth another try.
RtspOutput::Result resultOf(int error) {
    switch (error) {
        case AVERROR_HTTP_UNAUTHORIZED:
            return {RtspOutput::Outcome::authenticationFailed,
                    "the user name or password was not accepted"};
        case AVERROR_HTTP_FORBIDDEN:
            return {RtspOutput::Outcome::refused, "access denied"};
        case AVERROR_HTTP_NOT_FOUND:
            return {RtspOutput::Outcome::refused, "no such stream path"};
        case AVERROR_HTTP_BAD_REQUEST:
            return {RtspOutput::Outcome::refused, "the server does not take this stream"};
        case AVERROR_HTTP_OTHER_4XX:
            return {RtspOutput::Outcome::refused, "the server does not accept publishing here"};
        case AVERROR_HTTP_SERVER_ERROR:
            return {RtspOutput::Outcome::refused, "the server failed"};
        case AVERROR_EOF:
        case AVERROR_EXIT:
            return {RtspOutput::Outcome::unreachable, "the connection was closed"};
        default:
            break;
    }
    if (error < 0 && AVUNERROR(error) < 256) {
        // An errno value from the socket: the network, not the server's answer.
        return {RtspOutput::Outcome::unreachable, std::strerror(AVUNERROR(error))};
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return {RtspOutput::Outcome::refused, text};
}

}  // namespace

void RtspOutput::FormatDeleter::operator()(AVFormatContext* context) const {
    avformat_free_context(context);
}

RtspOutput::RtspOutput(std::string url, double ioTimeoutSeconds, std::function<bool()> interrupted)
    : url_(std::move(url)),
      ioTimeoutSeconds_(ioTimeoutSeconds),
      interrupted_(std::move(interrupted)) {}

RtspOutput::~RtspOutput() { close(); }

void RtspOutput::close() {
    if (format_ && headerWritten_) {
        // Says goodbye (TEARDOWN) when the server still listens.
        av_write_trailer(format_.get());
    }
    headerWritten_ = false;
    format_.reset();
}

RtspOutput::Result RtspOutput::open(const H264ParameterSets& description) {
    close();
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "rtsp", url_.c_str()) < 0 ||
        context == nullptr) {
        return {Outcome::refused, "this FFmpeg has no RTSP output"};
    }
    format_.reset(context);
    context->interrupt_callback.callback = &interrupted;
    context->interrupt_callback.opaque = &interrupted_;
    AVStream* video = avformat_new_stream(context, nullptr);
    AVStream* audio = avformat_new_stream(context, nullptr);
    if (video == nullptr || audio == nullptr) {
        return {Outcome::refused, "out of memory"};
    }
    video->time_base = {1, StreamTimeline::kVideoClock};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_H264;
    video->codecpar->width = description.width();
    video->codecpar->height = description.height();
    audio->time_base = {1, StreamTimeline::kAudioRate};
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_OPUS;
    audio->codecpar->sample_rate = StreamTimeline::kAudioRate;
    audio->codecpar->frame_size = StreamTimeline::kAudioRate / 100;
    av_channel_layout_default(&audio->codecpar->ch_layout, 1);
    if (!setCodecExtradata(video->codecpar, description.avcC())) {
        return {Outcome::refused, "out of memory"};
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rtsp_transport", "tcp", 0);
    av_dict_set_int(&options, "timeout", std::llround(ioTimeoutSeconds_ * 1e6), 0);
    const int result = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (result < 0) {
        format_.reset();
        return resultOf(result);
    }
    headerWritten_ = true;
    return {};
}

RtspOutput::Result RtspOutput::writePicture(const StreamTimeline::TimedPicture& picture) {
    return write(0, picture.sample.data, picture.pts, picture.dts, picture.duration,
                 picture.sample.keyFrame);
}

RtspOutput::Result RtspOutput::writeSound(ByteView packet,
                                          const StreamTimeline::TimedSound& sound) {
    return write(1, packet, sound.pts, sound.pts, sound.samples, true);
}

RtspOutput::Result RtspOutput::write(int stream, ByteView data, int64_t pts, int64_t dts,
                                     int64_t duration, bool key) {
    if (!headerWritten_) {
        return {Outcome::unreachable, "not connected"};
    }
    const int result = writeTimedPacket(format_.get(), stream, data, pts, dts, duration, key);
    if (result == AVERROR(ENOMEM)) {
        return {Outcome::unreachable, "out of memory"};
    }
    if (result < 0) {
        // The trailer releases the connection's sockets and the muxers inside.
        close();
        return resultOf(result);
    }
    bytesSent_ += data.size();
    return {};
}

}  // namespace vistamo
