// The test camera's media, taken apart by a bare loopback client: the H.264 stream is checked
// message by message against the wire format the viewer relies on, then decoded with plain
// libavcodec and the frame numbers drawn into the pictures are read back; the tone is decoded
// with libopus and its pitch measured; intercom packets, garbage among them, go to the camera
// and are looked for in its WAV file.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <opus/opus.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "support/CameraProcess.h"
#include "support/TempHome.h"
#include "support/TestStream.h"

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr std::array<uint8_t, 16> kKey = {0x3e, 0xa1, 0x5c, 0x07, 0xd2, 0x94, 0x6b, 0xf0,
                                          0x18, 0xc7, 0x2d, 0x83, 0x59, 0xe6, 0x0a, 0xb4};
constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

Bytes message(uint32_t command, const Bytes& body = {}) {
    const uint64_t length = 24 + body.size();
    Bytes out;
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    }
    const uint32_t words[] = {1, command, 0, 0};
    for (const uint32_t word : words) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct Message {
    uint32_t command = 0;
    uint32_t details = 0;
    uint32_t details2 = 0;
    Bytes body;
};

// A blocking loopback client that builds and parses every byte itself.
class Client {
public:
    explicit Client(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        // A bound on waiting for what must come, not a speed requirement.
        timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    bool send(const Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }

    std::optional<Message> read() {
        Bytes head(24);
        if (!readExactly(head)) {
            return std::nullopt;
        }
        const uint64_t length = le32(&head[0]) | uint64_t(le32(&head[4])) << 32;
        if (le32(&head[8]) != 1 || length < 24 || length > 0x400000) {
            return std::nullopt;
        }
        Message m{le32(&head[12]), le32(&head[16]), le32(&head[20]), Bytes(length - 24)};
        if (!readExactly(m.body)) {
            return std::nullopt;
        }
        return m;
    }

    // Answers the camera's challenge with an empty password and waits for 9 and the status.
    bool verify() {
        const auto challenge = read();
        const auto request = read();
        if (!challenge || challenge->command != 1 || challenge->body.size() < 16 || !request ||
            request->command != 50) {
            return false;
        }
        Bytes response(16);
        for (size_t i = 0; i < 16; ++i) {
            response[i] = challenge->body[i] ^ kKey[i];
        }
        send(message(30, response));
        const auto verified = read();
        const auto status = read();
        return verified && verified->command == 9 && status && status->command == 18;
    }

private:
    bool readExactly(Bytes& bytes) {
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::recv(fd_, bytes.data() + got, bytes.size() - got, 0);
            if (n <= 0) {
                return false;
            }
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int fd_;
    bool connected_ = false;
};

// ---- Video ----

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
    StreamReader(Client& client, int slicesPerPicture)
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
            if (!m) {
                ADD_FAILURE() << "the stream ended";
                return false;
            }
            if (!take(*m)) {
                return false;
            }
        }
        return true;
    }

private:
    bool take(const Message& m) {
        switch (m.command) {
            case 30:
                EXPECT_TRUE(m.body.empty());
                EXPECT_TRUE(pending_.empty()) << "a picture cut short by a new stream";
                pending_.clear();
                streams.emplace_back();
                return true;
            case 101:
                return takeParameters(m);
            case 102:
                return takeSlice(m);
            case 104:
                return true;
            default:
                ADD_FAILURE() << "unexpected command " << m.command;
                return false;
        }
    }

    bool takeParameters(const Message& m) {
        const size_t s = m.details;
        if (streams.empty() || !pending_.empty() || s <= 4 || s + 4 >= m.body.size()) {
            ADD_FAILURE() << "101 out of place or with an SPS block of " << s << " bytes in "
                          << m.body.size();
            return false;
        }
        Group group;
        group.sps.assign(m.body.begin() + 4, m.body.begin() + static_cast<ptrdiff_t>(s));
        group.pps.assign(m.body.begin() + static_cast<ptrdiff_t>(s) + 4, m.body.end());
        EXPECT_EQ(nalType(group.sps), 7);
        EXPECT_EQ(nalType(group.pps), 8);
        streams.back().groups.push_back(std::move(group));
        return true;
    }

    bool takeSlice(const Message& m) {
        if (streams.empty() || streams.back().groups.empty() || m.body.size() <= 5) {
            ADD_FAILURE() << "102 before 30 and 101, or without a slice";
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

    Client& client_;
    const int slicesPerPicture_;
    std::vector<Bytes> pending_;  // slices of a picture not yet whole
};

struct DecodedPicture {
    int width = 0;
    int height = 0;
    int frameNumber = -1;
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
    std::vector<std::string> options;
    int width;
    int height;
    int fps;
    int gop;
    int slices;
    bool bFrames;
};

void PrintTo(const VideoCase& c, std::ostream* out) { *out << c.name; }

class CameraVideo : public ::testing::TestWithParam<VideoCase> {};

// Per stream: 30 first, 101 before every key frame and nowhere else, groups of exactly the
// asked length, slices as asked; decoded, the pictures show 0, 1, 2, ... in display order,
// and the time stamps count the same pictures. A restart starts the numbers again.
TEST_P(CameraVideo, StreamsDecodablePicturesInOrder) {
    const VideoCase& c = GetParam();
    std::vector<std::string> arguments = {"--port", "0", "--control"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    CameraProcess camera(arguments);
    Client client(camera.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.verify());
    ASSERT_TRUE(client.send(message(16)));
    const auto first = client.read();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->command, 30u) << "a stream starts with 30";

    StreamReader reader(client, c.slices);
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
    if (c.bFrames) {
        EXPECT_GT(reader.nonReferenceSlices, 0u);
    } else {
        EXPECT_EQ(reader.nonReferenceSlices, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CameraVideo,
    ::testing::Values(
        VideoCase{"Plain", {"--fps", "50", "--gop", "10"}, 320, 240, 50, 10, 1, false},
        VideoCase{"BFrames",
                  {"--fps", "50", "--gop", "12", "--bframes", "--no-audio"},
                  320,
                  240,
                  50,
                  12,
                  1,
                  true},
        VideoCase{"TwoSlicesWithBFrames",
                  {"--fps", "60", "--gop", "25", "--bframes", "--two-slices", "--size", "352x288",
                   "--no-audio"},
                  352,
                  288,
                  60,
                  25,
                  2,
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Audio ----

// The pitch of mono 48 kHz samples, from the rising zero crossings.
double pitchHz(const std::vector<int16_t>& samples) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        crossings += samples[i - 1] < 0 && samples[i] >= 0;
    }
    return crossings * 48000.0 / static_cast<double>(samples.size());
}

struct OpusEncoderDeleter {
    void operator()(OpusEncoder* e) const { opus_encoder_destroy(e); }
};
struct OpusDecoderDeleter {
    void operator()(OpusDecoder* d) const { opus_decoder_destroy(d); }
};

// Packets of `samplesPerPacket` samples of a tone, as a viewer's microphone would send them.
std::vector<Bytes> encodeTone(double hz, int packets, int samplesPerPacket) {
    int error = 0;
    std::unique_ptr<OpusEncoder, OpusEncoderDeleter> encoder(
        opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &error));
    EXPECT_EQ(error, OPUS_OK);
    std::vector<Bytes> out;
    std::vector<int16_t> pcm(static_cast<size_t>(samplesPerPacket));
    int64_t n = 0;
    for (int p = 0; p < packets; ++p) {
        for (auto& sample : pcm) {
            sample = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * hz * n++ / 48000));
        }
        Bytes packet(1500);
        const int size = opus_encode(encoder.get(), pcm.data(), samplesPerPacket, packet.data(),
                                     static_cast<opus_int32>(packet.size()));
        EXPECT_GT(size, 0);
        packet.resize(static_cast<size_t>(std::max(size, 1)));
        out.push_back(std::move(packet));
    }
    return out;
}

struct Wav {
    bool valid = false;
    std::vector<int16_t> samples;
};

// Checks the header against the file's real size and the camera's format.
Wav readWav(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Wav wav;
    if (bytes.size() < 44 || std::memcmp(&bytes[0], "RIFF", 4) != 0 ||
        std::memcmp(&bytes[8], "WAVEfmt ", 8) != 0 || std::memcmp(&bytes[36], "data", 4) != 0) {
        return wav;
    }
    const bool format = le32(&bytes[16]) == 16 && (le32(&bytes[20]) & 0xFFFF) == 1 &&
                        le32(&bytes[20]) >> 16 == 1 && le32(&bytes[24]) == 48000 &&
                        le32(&bytes[28]) == 96000 && le32(&bytes[32]) == (16u << 16 | 2);
    const uint32_t data = le32(&bytes[40]);
    wav.valid =
        format && le32(&bytes[4]) == bytes.size() - 8 && data == bytes.size() - 44 && data % 2 == 0;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
        wav.samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return wav;
}

class CameraAudio : public TempHomeTest {};

// The tone arrives as 10 ms Opus packets at the asked pitch. Intercom packets are taken only
// from verified clients; garbage and over-long packets are dropped without harm, and what did
// decode lands in the WAV file, which is whole after SIGTERM.
TEST_F(CameraAudio, SendsTheToneAndKeepsIntercomAudio) {
    const std::string wavPath = (home_ / "intercom.wav").string();
    CameraProcess camera(
        {"--port", "0", "--no-video", "--tone", "1000", "--intercom-wav", wavPath});
    const auto tone = encodeTone(660, 50, 480);

    Client client(camera.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(message(16)));
    ASSERT_TRUE(client.send(message(104, tone[0])));
    EXPECT_TRUE(camera.waitForLine("stream refused not-verified conn=1"));
    EXPECT_TRUE(camera.waitForLine("intercom refused not-verified conn=1"));
    ASSERT_TRUE(client.verify());
    ASSERT_TRUE(client.send(message(16)));
    const auto first = client.read();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->command, 30u);

    int error = 0;
    std::unique_ptr<OpusDecoder, OpusDecoderDeleter> decoder(opus_decoder_create(48000, 1, &error));
    ASSERT_EQ(error, OPUS_OK);
    std::vector<int16_t> heard;
    std::vector<int16_t> pcm(5760);
    for (int packets = 0; packets < 100;) {
        const auto m = client.read();
        ASSERT_TRUE(m);
        if (m->command != 104) {
            continue;
        }
        const int samples =
            opus_decode(decoder.get(), m->body.data(), static_cast<opus_int32>(m->body.size()),
                        pcm.data(), static_cast<int>(pcm.size()), 0);
        ASSERT_EQ(samples, 480);
        // The encoder settles during the first packets.
        if (++packets > 10) {
            heard.insert(heard.end(), pcm.begin(), pcm.begin() + samples);
        }
    }
    EXPECT_NEAR(pitchHz(heard), 1000, 10);

    // A second client sends noise, one huge packet and packets longer than 10 ms; each gets its
    // line, and whatever happens to decode is kept.
    Client noisy(camera.port());
    ASSERT_TRUE(noisy.verify());
    std::vector<Bytes> garbage;
    uint32_t seed = 2024;
    const auto random = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
    for (int i = 0; i < 200; ++i) {
        Bytes packet(1 + random() % 400);
        std::generate(packet.begin(), packet.end(), [&] { return uint8_t(random()); });
        garbage.push_back(std::move(packet));
    }
    garbage.push_back(Bytes(100000, 0xFC));
    garbage.push_back(encodeTone(660, 1, 960)[0]);
    garbage.push_back(encodeTone(660, 1, 2880)[0]);
    for (const auto& packet : garbage) {
        ASSERT_TRUE(noisy.send(message(104, packet)));
    }
    size_t keptSamples = 0;
    int tooLong = 0;
    for (size_t i = 0; i < garbage.size(); ++i) {
        const auto line = camera.waitForLine([](const std::string& text) {
            return text.starts_with("intercom ") && text.ends_with(" conn=2");
        });
        ASSERT_TRUE(line) << "after " << i << " packets";
        if (line->starts_with("intercom packet samples=")) {
            keptSamples += std::stoul(line->substr(24));
        }
        tooLong += line->starts_with("intercom dropped reason=too-long");
    }
    EXPECT_GE(tooLong, 2);

    for (const auto& packet : tone) {
        ASSERT_TRUE(client.send(message(104, packet)));
    }
    for (size_t i = 0; i < tone.size(); ++i) {
        ASSERT_TRUE(camera.waitForLine("intercom packet samples=480 conn=1"));
    }
    keptSamples += tone.size() * 480;
    EXPECT_EQ(camera.stop(), 0);

    const Wav wav = readWav(wavPath);
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.samples.size(), keptSamples);
    const std::vector<int16_t> lastPackets(wav.samples.end() - 40 * 480, wav.samples.end());
    EXPECT_NEAR(pitchHz(lastPackets), 660, 7);
}

}  // namespace
}  // namespace vistamo::test
