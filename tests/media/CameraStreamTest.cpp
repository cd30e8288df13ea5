// The test camera's video, taken apart by a bare loopback client: the H.264 stream is checked
// message by message against the wire format the viewer relies on, then decoded with plain
// libavcodec and the frame numbers drawn into the pictures are read back. (Its sound is checked
// end to end in EndToEndTest.)

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>

#include "support/CameraProcess.h"
#include "support/TestStream.h"
#include "support/WireClient.h"

namespace vistamo::test {
namespace {

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

struct Picture {
    std::vector<Bytes> slices;  // NAL units without prefix
    float time = 0;
    bool nonReference() const { return slices[0][0] == 0x01; }
};

// One stream, from a 30 to the next: its groups, each opened by a 101.
struct Group {
    Bytes sps;
    Bytes pps;
    std::vector<Picture> pictures;  // decode order
};
struct Stream {
    std::vector<Group> groups;
};

int nalType(const Bytes& unit) { return unit[0] & 0x1F; }

// first_mb_in_slice is the slice header's first field; its Exp-Golomb code for 0 is one set bit.
bool startsPicture(const Bytes& slice) { return slice.size() > 1 && (slice[1] & 0x80) != 0; }

// Reads messages, checks each against the wire format, and sorts them into streams.
class StreamReader {
public:
    StreamReader(WireClient& client, int slicesPerPicture)
        : client_(client), slicesPerPicture_(slicesPerPicture) {}

    std::vector<Stream> streams;
    size_t nonReferenceSlices = 0;

    // Reads until the current stream holds `groups` whole groups, that is until the 101 after
    // them arrives, or until a new stream starts. False when the connection ends or a message
    // breaks the format.
    bool readGroups(size_t groups) {
        const size_t count = streams.size();
        while (streams.size() == count && streams.back().groups.size() <= groups) {
            const auto m = client_.read();
            if (!m || !take(*m)) {
                ADD_FAILURE() << "the stream ended or broke the format";
                return false;
            }
        }
        return true;
    }

private:
    bool take(const WireMessage& m) {
        if (m.command == 104) {
            return true;
        }
        if (m.command == 30) {
            EXPECT_TRUE(m.body.empty());
            EXPECT_TRUE(pending_.empty()) << "a picture cut short by a new stream";
            pending_.clear();
            streams.emplace_back();
            return true;
        }
        const size_t s = m.details;
        if (m.command == 101) {
            if (streams.empty() || !pending_.empty() || s <= 4 || s + 4 >= m.body.size()) {
                ADD_FAILURE() << "101 out of place or with an SPS block of " << s << " bytes in "
                              << m.body.size();
                return false;
            }
            const auto at = m.body.begin() + static_cast<ptrdiff_t>(s);
            Group group{Bytes(m.body.begin() + 4, at), Bytes(at + 4, m.body.end()), {}};
            EXPECT_EQ(nalType(group.sps), 7);
            EXPECT_EQ(nalType(group.pps), 8);
            streams.back().groups.push_back(std::move(group));
            return true;
        }
        if (m.command != 102 || streams.empty() || streams.back().groups.empty() ||
            m.body.size() <= 5) {
            ADD_FAILURE() << "unexpected command " << m.command
                          << ", or 102 before 30 and 101, or without a slice";
            return false;
        }
        Bytes slice(m.body.begin() + 4, m.body.end());
        auto& group = streams.back().groups.back();
        const int type = nalType(slice);
        EXPECT_TRUE(type == 1 || type == 5) << "NAL type " << type;
        // Key frames come right after their 101, and only there.
        EXPECT_EQ(type == 5, group.pictures.empty());
        EXPECT_EQ(m.details, slicesPerPicture_ == 2 ? 1u : 0u);
        EXPECT_EQ(startsPicture(slice), pending_.empty()) << "slice order within a picture";
        if (!pending_.empty()) {
            EXPECT_EQ(slice[0], pending_[0][0]) << "slices of one picture differ in kind";
        }
        nonReferenceSlices += slice[0] == 0x01;
        float time = 0;
        std::memcpy(&time, &m.details2, sizeof time);
        pending_.push_back(std::move(slice));
        if (pending_.size() == static_cast<size_t>(slicesPerPicture_)) {
            group.pictures.push_back({std::move(pending_), time});
            pending_.clear();
            EXPECT_LE(group.pictures.size(), 25u) << "more pictures than a reorder ring holds";
        }
        return true;
    }

    WireClient& client_;
    const int slicesPerPicture_;
    std::vector<Bytes> pending_;  // slices of a picture not yet whole
};

struct DecodedPicture {
    int width, height, frameNumber;
};

// Decodes whole groups with libavcodec's own H.264 decoder fed Annex B, in display order.
std::vector<DecodedPicture> decode(const std::vector<Group>& groups) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    context->thread_count = 1;
    EXPECT_EQ(avcodec_open2(context.get(), codec, nullptr), 0);
    std::vector<DecodedPicture> out;
    const auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            out.push_back(
                {frame->width, frame->height,
                 readFrameNumber(frame->data[0], frame->linesize[0], frame->width, frame->height)});
            av_frame_unref(frame.get());
        }
    };
    for (const auto& group : groups) {
        for (size_t i = 0; i < group.pictures.size(); ++i) {
            Bytes data;
            const auto add = [&](const Bytes& unit) {
                data.insert(data.end(), std::begin(kStartCode), std::end(kStartCode));
                data.insert(data.end(), unit.begin(), unit.end());
            };
            if (i == 0) {
                add(group.sps);
                add(group.pps);
            }
            for (const auto& slice : group.pictures[i].slices) {
                add(slice);
            }
            data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
            packet->data = data.data();
            packet->size = static_cast<int>(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
            EXPECT_EQ(avcodec_send_packet(context.get(), packet.get()), 0);
            drain();
        }
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
    return out;
}

struct VideoCase {
    const char* name;
    int width, height, fps, gop;
    bool twoSlices, bFrames, audio;
};

void PrintTo(const VideoCase& c, std::ostream* out) { *out << c.name; }

class CameraVideo : public ::testing::TestWithParam<VideoCase> {};

// Per stream: 30 first, 101 before every key frame and nowhere else, groups of exactly the
// asked length, slices as asked; decoded, the pictures show 0, 1, 2, ... in display order,
// and the time stamps count the same pictures. A restart starts the numbers again.
TEST_P(CameraVideo, StreamsDecodablePicturesInOrder) {
    const VideoCase& c = GetParam();
    std::vector<std::string> arguments = {"--port",
                                          "0",
                                          "--control",
                                          "--fps",
                                          std::to_string(c.fps),
                                          "--gop",
                                          std::to_string(c.gop),
                                          "--size",
                                          std::to_string(c.width) + "x" + std::to_string(c.height)};
    for (const auto& [on, option] : {std::pair{c.twoSlices, "--two-slices"},
                                     {c.bFrames, "--bframes"},
                                     {!c.audio, "--no-audio"}}) {
        if (on) {
            arguments.push_back(option);
        }
    }
    CameraProcess camera(arguments);
    WireClient client(camera.port());
    ASSERT_TRUE(client.verify());
    ASSERT_TRUE(client.send(wireMessage(16)));
    const auto first = client.read();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->command, 30u) << "a stream starts with 30";
    StreamReader reader(client, c.twoSlices ? 2 : 1);
    reader.streams.emplace_back();
    ASSERT_TRUE(reader.readGroups(2));
    camera.sendControl("restart-stream");
    while (reader.streams.size() < 2) {
        ASSERT_TRUE(reader.readGroups(SIZE_MAX));
    }
    ASSERT_TRUE(reader.readGroups(2));
    ASSERT_EQ(reader.streams.size(), 2u);

    for (const auto& stream : reader.streams) {
        // The last group may still be growing; the ones before it are whole.
        const std::vector<Group> whole(stream.groups.begin(), stream.groups.end() - 1);
        ASSERT_GE(whole.size(), 2u);
        // A viewer puts each non-reference picture before the one that preceded it in decode
        // order, and relies on that giving display order.
        std::vector<float> times;
        for (const auto& group : whole) {
            EXPECT_EQ(group.pictures.size(), static_cast<size_t>(c.gop));
            for (const auto& picture : group.pictures) {
                const auto at =
                    picture.nonReference() && !times.empty() ? times.end() - 1 : times.end();
                times.insert(at, picture.time);
            }
        }
        for (size_t i = 0; i < times.size(); ++i) {
            ASSERT_NEAR(times[i], static_cast<float>(i) / static_cast<float>(c.fps), 1e-4)
                << "time stamp " << i;
        }
        const auto pictures = decode(whole);
        ASSERT_EQ(pictures.size(), times.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            EXPECT_EQ(pictures[i].width, c.width);
            EXPECT_EQ(pictures[i].height, c.height);
            ASSERT_EQ(pictures[i].frameNumber, static_cast<int>(i)) << "display position " << i;
        }
    }
    EXPECT_EQ(reader.nonReferenceSlices > 0, c.bFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CameraVideo,
    ::testing::Values(VideoCase{"Plain", 320, 240, 50, 10, false, false, true},
                      VideoCase{"BFrames", 320, 240, 50, 12, false, true, false},
                      VideoCase{"TwoSlicesWithBFrames", 352, 288, 60, 25, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vistamo::test
