// The cost of writing a recording: ClipWriter (time stamps, fragment per key frame, its own
// output) against libavformat's plain MP4 muxer fed with av_interleaved_write_frame, on the
// same libx264 pictures in one run. Both write to files in the temporary folder. Prints
// microseconds per picture for both and their ratio.
//
// Usage: record [FRAMES] [ROUNDS]   (default 600 pictures, 5 rounds; the best round counts)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/ClipWriter.h"
#include "support/TestStream.h"

namespace {

using namespace vistamo;
using Clock = std::chrono::steady_clock;

constexpr double kPictureSeconds = 1.0 / 30;

std::vector<RecordedSample> samplesOf(const test::TestStream& stream) {
    auto format =
        H264ParameterSets::create(ByteView(stream.sps).subspan(4), ByteView(stream.pps).subspan(4));
    std::vector<RecordedSample> samples;
    double time = 0;
    for (const auto& picture : stream.pictures) {
        RecordedSample sample;
        sample.arrivalSeconds = time;
        sample.keyFrame = picture.idr;
        sample.format = picture.idr ? format : nullptr;
        sample.cameraSeconds = picture.frameNumber * kPictureSeconds;
        for (const auto& slice : picture.slices) {
            const auto length = static_cast<uint32_t>(slice.size() - 4);
            for (const int shift : {24, 16, 8, 0}) {
                sample.data.push_back(static_cast<uint8_t>(length >> shift));
            }
            sample.data.insert(sample.data.end(), slice.begin() + 4, slice.end());
            sample.reference = (slice[4] & 0x60) != 0;
        }
        samples.push_back(std::move(sample));
        time += kPictureSeconds;
    }
    return samples;
}

struct ClipRound {
    double seconds = 0;
    double finishSeconds = 0;  // the trailer, the flush to the disk and the rename
};

ClipRound clipWriterRound(const std::vector<RecordedSample>& samples,
                          const std::filesystem::path& path) {
    std::filesystem::remove(path);
    const auto start = Clock::now();
    ClipWriter writer(path, {});
    for (const auto& sample : samples) {
        writer.write(sample);
    }
    const auto finishing = Clock::now();
    writer.finish();
    const auto end = Clock::now();
    return {std::chrono::duration<double>(end - start).count(),
            std::chrono::duration<double>(end - finishing).count()};
}

// The same pictures through the muxer alone: no fragments, time stamps given as they are.
double plainMuxerRound(const std::vector<RecordedSample>& samples, const test::TestStream& stream,
                       const std::filesystem::path& path) {
    const auto format = samples.front().format;
    const auto start = Clock::now();
    AVFormatContext* context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, "mp4", path.c_str());
    AVStream* video = avformat_new_stream(context, nullptr);
    video->time_base = {1, 90000};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_H264;
    video->codecpar->width = format->width();
    video->codecpar->height = format->height();
    const ByteView avcC = format->avcC();
    video->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(avcC.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(video->codecpar->extradata, avcC.data(), avcC.size());
    video->codecpar->extradata_size = static_cast<int>(avcC.size());
    avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (avformat_write_header(context, nullptr) < 0) {
        std::fprintf(stderr, "the plain muxer did not start\n");
        std::exit(1);
    }
    AVPacket* packet = av_packet_alloc();
    for (size_t i = 0; i < samples.size(); ++i) {
        av_new_packet(packet, static_cast<int>(samples[i].data.size()));
        std::memcpy(packet->data, samples[i].data.data(), samples[i].data.size());
        packet->stream_index = 0;
        const int64_t step = 3000;  // 1/30 s
        packet->pts = (stream.pictures[i].frameNumber + 1) * step;
        packet->dts = static_cast<int64_t>(i) * step;
        packet->duration = step;
        if (samples[i].keyFrame) {
            packet->flags |= AV_PKT_FLAG_KEY;
        }
        av_interleaved_write_frame(context, packet);
    }
    av_packet_free(&packet);
    av_write_trailer(context);
    avio_closep(&context->pb);
    avformat_free_context(context);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(30, std::atoi(argv[1])) : 600;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    av_log_set_level(AV_LOG_ERROR);
    const auto stream = test::encodeTestStream(
        {.width = 1280, .height = 720, .frames = frames, .bFrames = true, .keyInterval = 60});
    const auto samples = samplesOf(stream);
    const auto folder = std::filesystem::temp_directory_path();
    const auto clipPath = folder / ("vistamo-bench-clip-" + std::to_string(::getpid()) + ".mp4");
    const auto plainPath = folder / ("vistamo-bench-plain-" + std::to_string(::getpid()) + ".mp4");

    double clipBest = 1e9;
    double finishOfBest = 0;
    double plainBest = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const ClipRound clip = clipWriterRound(samples, clipPath);
        if (clip.seconds < clipBest) {
            clipBest = clip.seconds;
            finishOfBest = clip.finishSeconds;
        }
        plainBest = std::min(plainBest, plainMuxerRound(samples, stream, plainPath));
    }
    const auto clipBytes = std::filesystem::file_size(clipPath);
    const auto plainBytes = std::filesystem::file_size(plainPath);
    std::filesystem::remove(clipPath);
    std::filesystem::remove(plainPath);

    const double perPicture = 1e6 / static_cast<double>(frames);
    std::printf("%d pictures of 1280x720, %d rounds, best round\n", frames, rounds);
    std::printf("ClipWriter (fragmented, own output): %8.1f us/picture  %zu bytes\n",
                clipBest * perPicture, static_cast<size_t>(clipBytes));
    std::printf("  of which finishing (trailer, fsync, rename): %.2f ms\n", finishOfBest * 1e3);
    std::printf("av_interleaved_write_frame (plain):  %8.1f us/picture  %zu bytes\n",
                plainBest * perPicture, static_cast<size_t>(plainBytes));
    std::printf("ratio ClipWriter / plain: %.2f\n", clipBest / plainBest);
    return 0;
}
