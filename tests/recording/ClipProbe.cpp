#include "recording/ClipProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "support/TestStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vistamo::test {

namespace {

template <typename T, auto release>
using Owned = std::unique_ptr<T, decltype([](T* object) { release(&object); })>;

}  // namespace

ClipProbe probeClip(const std::filesystem::path& path) {
    ClipProbe probe;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        return probe;
    }
    Owned<AVFormatContext, avformat_close_input> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        return probe;
    }
    probe.opened = true;
    int video = -1;
    int audio = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const auto* parameters = input->streams[i]->codecpar;
        if (parameters->codec_id == AV_CODEC_ID_H264 && video < 0) {
            video = static_cast<int>(i);
        } else if (parameters->codec_id == AV_CODEC_ID_OPUS && audio < 0) {
            audio = static_cast<int>(i);
        }
    }
    probe.hasVideo = video >= 0;
    probe.hasOpus = audio >= 0;
    if (video < 0) {
        return probe;
    }
    const AVRational timeBase = input->streams[video]->time_base;
    probe.width = input->streams[video]->codecpar->width;
    Owned<AVCodecContext, avcodec_free_context> decoder(
        avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
    avcodec_parameters_to_context(decoder.get(), input->streams[video]->codecpar);
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), nullptr, nullptr) < 0) {
        return probe;
    }
    Owned<AVPacket, av_packet_free> packet(av_packet_alloc());
    Owned<AVFrame, av_frame_free> frame(av_frame_alloc());
    int64_t lastDts = INT64_MIN;
    int64_t lastPts = INT64_MIN;
    int64_t firstPts = INT64_MAX;
    int64_t end = INT64_MIN;
    auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            ++probe.decoded;
            if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                ++probe.damaged;
            }
            const int64_t pts = frame->best_effort_timestamp;
            if (pts <= lastPts) {
                probe.presentationTimesIncrease = false;
            }
            lastPts = pts;
            probe.frameNumbers.push_back(
                readFrameNumber(frame->data[0], frame->linesize[0], frame->width, frame->height));
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == audio) {
            ++probe.audioPackets;
        } else if (packet->stream_index == video) {
            if (probe.videoPackets == 0) {
                probe.firstIsKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            }
            ++probe.videoPackets;
            if (packet->dts <= lastDts) {
                probe.decodeTimesIncrease = false;
            }
            lastDts = packet->dts;
            firstPts = std::min(firstPts, packet->pts);
            end = std::max(end, packet->pts + packet->duration);
            if (avcodec_send_packet(decoder.get(), packet.get()) < 0) {
                ++probe.damaged;
            }
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    if (probe.videoPackets > 0) {
        probe.videoSeconds = static_cast<double>(end - firstPts) * av_q2d(timeBase);
        probe.firstVideoSeconds = static_cast<double>(firstPts) * av_q2d(timeBase);
    }
    return probe;
}

void expectPlayable(const ClipProbe& probe) {
    EXPECT_TRUE(probe.opened);
    EXPECT_TRUE(probe.hasVideo);
    EXPECT_TRUE(probe.hasOpus);
    EXPECT_TRUE(probe.firstIsKey);
    EXPECT_TRUE(probe.decodeTimesIncrease);
    EXPECT_TRUE(probe.presentationTimesIncrease);
    EXPECT_GT(probe.videoPackets, 0);
    EXPECT_EQ(probe.decoded, probe.videoPackets);
    EXPECT_EQ(probe.damaged, 0);
}

}  // namespace vistamo::test
