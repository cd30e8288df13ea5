// Decoding speed of H264Decoder (framing, hand-over to its thread, decoding with picture
// capture, reorder ring) against plain libavcodec with the same decoder settings, on the same
// libx264 streams in one run. Prints pictures per second for both, their ratio, and the time
// from handing a picture in to its decoding being complete.
//
// Usage: decode [FRAMES]   (default 300 pictures per stream)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "media/AvcodecH264Session.h"
#include "media/H264Decoder.h"
#include "media/H264ParameterSets.h"
#include "support/TestStream.h"

namespace {

using namespace vistamo;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Counts the pictures shown and notes when each was shown.
class CountingRenderer : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer& frame) override {
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        if (frame) {
            shownAt_.push_back(now);
        }
        changed_.notify_all();
    }
    void waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return shownAt_.size() >= count; });
    }
    std::vector<Clock::time_point> shownAt() {
        std::lock_guard lock(mutex_);
        return shownAt_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Clock::time_point> shownAt_;
};

// The samples of a stream as plain libavcodec takes them: each picture's slices with 4-byte
// big-endian lengths.
std::vector<AVPacketPtr> samplesOf(const test::TestStream& stream) {
    std::vector<AVPacketPtr> samples;
    for (const auto& picture : stream.pictures) {
        Bytes bytes;
        for (const auto& slice : picture.slices) {
            const size_t length = slice.size() - 4;
            for (int shift = 24; shift >= 0; shift -= 8) {
                bytes.push_back(static_cast<uint8_t>(length >> shift));
            }
            bytes.insert(bytes.end(), slice.begin() + 4, slice.end());
        }
        AVPacketPtr packet(av_packet_alloc());
        av_new_packet(packet.get(), static_cast<int>(bytes.size()));
        std::memcpy(packet->data, bytes.data(), bytes.size());
        samples.push_back(std::move(packet));
    }
    return samples;
}

// Plain libavcodec: the same decoder settings as the session (slice threads), its own output.
double plainSeconds(const H264ParameterSets& format, const std::vector<AVPacketPtr>& samples,
                    std::vector<double>* sendSeconds) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    const ByteView record = format.avcC();
    context->extradata =
        static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context->extradata, record.data(), record.size());
    context->extradata_size = static_cast<int>(record.size());
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        std::fprintf(stderr, "cannot open the decoder\n");
        std::exit(1);
    }
    AVFrame* frame = av_frame_alloc();
    size_t received = 0;
    const auto start = Clock::now();
    for (const auto& sample : samples) {
        const auto sent = Clock::now();
        avcodec_send_packet(context, sample.get());
        if (sendSeconds != nullptr) {
            sendSeconds->push_back(seconds(Clock::now() - sent));
        }
        while (avcodec_receive_frame(context, frame) >= 0) {
            ++received;
            av_frame_unref(frame);
        }
    }
    avcodec_send_packet(context, nullptr);
    while (avcodec_receive_frame(context, frame) >= 0) {
        ++received;
        av_frame_unref(frame);
    }
    const auto elapsed = Clock::now() - start;
    av_frame_free(&frame);
    avcodec_free_context(&context);
    if (received != samples.size()) {
        std::fprintf(stderr, "plain decoder returned %zu of %zu pictures\n", received,
                     samples.size());
    }
    return seconds(elapsed);
}

void send(H264Decoder& decoder, const test::TestPicture& picture) {
    if (picture.slices.size() == 1) {
        decoder.decodeFrame(picture.slices[0]);
    } else {
        for (const auto& slice : picture.slices) {
            decoder.decodeTwoSlicePicture(slice);
        }
    }
}

// H264Decoder fed as fast as it takes pictures without dropping any: a few pictures ahead of
// what it has shown.
double oursSeconds(const test::TestStream& stream) {
    auto renderer = std::make_shared<CountingRenderer>();
    H264Decoder decoder;
    decoder.addPictureSink(renderer);
    decoder.start();
    const auto start = Clock::now();
    decoder.createFormatDesc(stream.sps, stream.pps);
    constexpr size_t kAhead = H264Decoder::kMaxWaitingPictures / 2;
    for (size_t d = 1; d <= stream.pictures.size(); ++d) {
        send(decoder, stream.pictures[d - 1]);
        if (d > kAhead + 1) {
            renderer->waitFor(d - kAhead - 1);
        }
    }
    decoder.waitForAsynchronousFrames();
    const auto elapsed = Clock::now() - start;
    const size_t expected = stream.pictures.size() - static_cast<size_t>(decoder.holdPictures());
    if (renderer->shownAt().size() != expected || decoder.droppedPictures() != 0) {
        std::fprintf(stderr, "H264Decoder showed %zu of %zu pictures, dropped %llu\n",
                     renderer->shownAt().size(), expected,
                     static_cast<unsigned long long>(decoder.droppedPictures()));
    }
    return seconds(elapsed);
}

// H264Decoder fed one picture at a time: from handing picture d in to its decoding being
// complete, which is when the ring shows picture d - hold.
std::vector<double> oursLatencies(const test::TestStream& stream) {
    auto renderer = std::make_shared<CountingRenderer>();
    H264Decoder decoder;
    decoder.addPictureSink(renderer);
    decoder.start();
    decoder.createFormatDesc(stream.sps, stream.pps);
    decoder.waitForAsynchronousFrames();
    const auto hold = static_cast<size_t>(decoder.holdPictures());
    std::vector<Clock::time_point> handedIn;
    for (size_t d = 1; d <= stream.pictures.size(); ++d) {
        handedIn.push_back(Clock::now());
        send(decoder, stream.pictures[d - 1]);
        if (d > hold) {
            renderer->waitFor(d - hold);
        } else {
            decoder.waitForAsynchronousFrames();
        }
    }
    const auto shown = renderer->shownAt();
    std::vector<double> latencies;
    for (size_t k = 0; k < shown.size(); ++k) {
        latencies.push_back(seconds(shown[k] - handedIn[k + hold]));
    }
    return latencies;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index =
        std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    constexpr int kRounds = 3;
    av_log_set_level(AV_LOG_ERROR);

    struct Case {
        const char* name;
        int width;
        int height;
        bool bFrames;
    };
    const Case cases[] = {{"720p I/P", 1280, 720, false},
                          {"720p I/P/B", 1280, 720, true},
                          {"1080p I/P", 1920, 1080, false},
                          {"1080p I/P/B", 1920, 1080, true}};

    std::printf("%d pictures per stream, best of %d rounds; latency = hand-in to decoded\n", frames,
                kRounds);
    std::printf("%-12s %10s %10s %7s %12s %12s %14s\n", "stream", "plain fps", "ours fps", "ratio",
                "ours median", "ours p99", "plain send p50");
    for (const Case& c : cases) {
        test::TestStreamOptions options;
        options.width = c.width;
        options.height = c.height;
        options.frames = frames;
        options.bFrames = c.bFrames;
        options.keyInterval = 60;
        const test::TestStream stream = test::encodeTestStream(options);
        const auto format = H264ParameterSets::create(ByteView(stream.sps).subspan(4),
                                                      ByteView(stream.pps).subspan(4));
        const auto samples = samplesOf(stream);

        double plainBest = 1e9, oursBest = 1e9;
        std::vector<double> sendSeconds;
        for (int round = 0; round < kRounds; ++round) {
            plainBest = std::min(plainBest, plainSeconds(*format, samples, &sendSeconds));
            oursBest = std::min(oursBest, oursSeconds(stream));
        }
        const std::vector<double> latencies = oursLatencies(stream);
        const double plainFps = frames / plainBest;
        const double oursFps = frames / oursBest;
        std::printf("%-12s %10.1f %10.1f %7.3f %10.2fms %10.2fms %12.2fms\n", c.name, plainFps,
                    oursFps, oursFps / plainFps, 1e3 * median(latencies),
                    1e3 * percentile(latencies, 0.99), 1e3 * median(sendSeconds));
    }
    return 0;
}
