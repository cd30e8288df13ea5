#include "media/Muxing.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "media/StreamTimeline.h"

namespace vistamo {

bool setCodecExtradata(AVCodecParameters* parameters, ByteView bytes) {
    parameters->extradata =
        static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (parameters->extradata == nullptr) {
        return false;
    }
    std::memcpy(parameters->extradata, bytes.data(), bytes.size());
    parameters->extradata_size = static_cast<int>(bytes.size());
    return true;
}

int writeTimedPacket(AVFormatContext* format, int stream, ByteView data, int64_t pts, int64_t dts,
                     int64_t duration, bool key) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, static_cast<int>(data.size())) < 0) {
        av_packet_free(&packet);
        return AVERROR(ENOMEM);
    }
    std::memcpy(packet->data, data.data(), data.size());
    packet->stream_index = stream;
    const AVRational source = {
        1, stream == 0 ? StreamTimeline::kVideoClock : StreamTimeline::kAudioRate};
    const AVRational timeBase = format->streams[stream]->time_base;
    packet->pts = av_rescale_q(pts, source, timeBase);
    packet->dts = av_rescale_q(dts, source, timeBase);
    packet->duration = av_rescale_q(duration, source, timeBase);
    if (key) {
        packet->flags |= AV_PKT_FLAG_KEY;
    }
    const int result = av_write_frame(format, packet);
    av_packet_free(&packet);
    return result;
}

}  // namespace vistamo
