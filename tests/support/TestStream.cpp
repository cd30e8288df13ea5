#include "support/TestStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace vistamo::test {

namespace {

constexpr int kBlock = 16;
constexpr uint8_t kBright = 235;
constexpr uint8_t kDark = 16;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "test stream: %s\n", what.c_str());
    std::abort();
}

void draw(AVFrame& frame, int number) {
    const int bits = frameNumberBits(frame.width);
    for (int y = 0; y < frame.height; ++y) {
        uint8_t* row = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
        for (int x = 0; x < frame.width; ++x) {
            // A gradient that moves from picture to picture, so that every picture carries
            // residual data.
            row[x] = static_cast<uint8_t>(96 + ((x + y + 4 * number) & 63));
        }
    }
    for (int bit = 0; bit < bits; ++bit) {
        const uint8_t value = (number >> bit) & 1 ? kBright : kDark;
        for (int y = 0; y < kBlock && y < frame.height; ++y) {
            std::fill_n(
                frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0] + bit * kBlock,
                kBlock, value);
        }
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < (frame.height + 1) / 2; ++y) {
            std::fill_n(frame.data[plane] + static_cast<ptrdiff_t>(y) * frame.linesize[plane],
                        (frame.width + 1) / 2, 128);
        }
    }
}

// The NAL units of an Annex B byte stream, without their start codes.
std::vector<ByteView> splitAnnexB(ByteView stream) {
    std::vector<size_t> starts;  // first byte after each start code
    for (size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<ByteView> units;
    for (size_t n = 0; n < starts.size(); ++n) {
        size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : stream.size();
        while (end > starts[n] && stream[end - 1] == 0) {
            --end;  // the leading zero of a 4-byte start code, or trailing zeros
        }
        units.push_back(stream.subspan(starts[n], end - starts[n]));
    }
    return units;
}

CameraUnit withPrefix(ByteView unit) {
    CameraUnit out(4 + unit.size());
    out[3] = 1;  // a start code, as cameras send it
    std::copy(unit.begin(), unit.end(), out.begin() + 4);
    return out;
}

void collect(AVCodecContext& context, AVPacket& packet, TestStream& stream) {
    while (avcodec_receive_packet(&context, &packet) == 0) {
        TestPicture picture;
        picture.frameNumber = static_cast<int>(packet.pts);
        for (ByteView unit : splitAnnexB(ByteView(packet.data, static_cast<size_t>(packet.size)))) {
            if (unit.empty()) {
                continue;
            }
            const int type = unit[0] & 0x1f;
            if (type == 7 && stream.sps.empty()) {
                stream.sps = withPrefix(unit);
            } else if (type == 8 && stream.pps.empty()) {
                stream.pps = withPrefix(unit);
            } else if (type == 1 || type == 5) {
                picture.idr = picture.idr || type == 5;
                picture.slices.push_back(withPrefix(unit));
            }
        }
        stream.pictures.push_back(std::move(picture));
        av_packet_unref(&packet);
    }
}

}  // namespace

int frameNumberBits(int width) { return std::clamp(width / kBlock, 0, 12); }

TestStream encodeTestStream(const TestStreamOptions& options) {
    av_log_set_level(AV_LOG_WARNING);  // libx264 reports its statistics at the info level
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        fail("libavcodec has no libx264 encoder");
    }
    std::shared_ptr<AVCodecContext> context(avcodec_alloc_context3(codec),
                                            [](AVCodecContext* c) { avcodec_free_context(&c); });
    context->width = options.width;
    context->height = options.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 30};
    context->framerate = AVRational{30, 1};
    context->gop_size = options.keyInterval;
    context->max_b_frames = options.bFrames ? 1 : 0;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "veryfast", 0);
    std::string params = "scenecut=0:b-adapt=0:b-pyramid=none:open-gop=0:qp=20:slices=" +
                         std::to_string(options.slices);
    if (options.scalingMatrices) {
        params += ":cqm=jvt";
    }
    av_opt_set(context->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        fail("cannot open libx264");
    }

    std::shared_ptr<AVFrame> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = options.width;
    frame->height = options.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        fail("cannot allocate a picture");
    }
    std::shared_ptr<AVPacket> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });

    TestStream stream;
    for (int n = 0; n < options.frames; ++n) {
        if (av_frame_make_writable(frame.get()) < 0) {
            fail("cannot write the picture");
        }
        draw(*frame, n);
        frame->pts = n;
        if (avcodec_send_frame(context.get(), frame.get()) < 0) {
            fail("libx264 refused a picture");
        }
        collect(*context, *packet, stream);
    }
    avcodec_send_frame(context.get(), nullptr);
    collect(*context, *packet, stream);
    if (stream.sps.empty() || stream.pps.empty() ||
        stream.pictures.size() != static_cast<size_t>(options.frames)) {
        fail("libx264 made an unexpected stream");
    }
    return stream;
}

int readFrameNumber(const uint8_t* luma, int stride, int width, int height) {
    if (height < kBlock) {
        return -1;
    }
    int number = 0;
    for (int bit = 0; bit < frameNumberBits(width); ++bit) {
        int sum = 0;
        for (int y = 4; y < 12; ++y) {
            for (int x = bit * kBlock + 4; x < bit * kBlock + 12; ++x) {
                sum += luma[static_cast<ptrdiff_t>(y) * stride + x];
            }
        }
        const int mean = sum / 64;
        if (mean > 160) {
            number |= 1 << bit;
        } else if (mean >= 90) {
            return -1;
        }
    }
    return number;
}

}  // namespace vistamo::test
