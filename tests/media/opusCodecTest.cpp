#include "media/opusCodec.h"

#include <gtest/gtest.h>
#include <opus.h>

#include <array>
#include <memory>
#include <ostream>
#include <span>
#include <vector>

#include "media/AudioSignals.h"

namespace vistamo {

void PrintTo(const opusCodec::Positions& at, std::ostream* out) {
    *out << "{" << at.begin << ", " << at.end << "}";
}

namespace {

using test::bytesOfSamples;
using test::tone;
using Positions = opusCodec::Positions;

struct PacketSink : opusCodecDelegate {
    void getOpusData(Bytes packet) override { packets.push_back(std::move(packet)); }
    std::vector<Bytes> packets;
};

// Set up as the codec's encoder is: from a stream of frames it must make what the codec makes
// of the same stream, however the stream was cut into chunks.
std::shared_ptr<OpusEncoder> referenceEncoder() {
    int error = 0;
    std::shared_ptr<OpusEncoder> encoder(
        opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &error), &opus_encoder_destroy);
    opus_encoder_ctl(encoder.get(), OPUS_SET_BITRATE(48000));
    opus_encoder_ctl(encoder.get(), OPUS_SET_VBR(0));
    opus_encoder_ctl(encoder.get(), OPUS_SET_VBR_CONSTRAINT(1));
    opus_encoder_ctl(encoder.get(), OPUS_SET_COMPLEXITY(6));
    opus_encoder_ctl(encoder.get(), OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    return encoder;
}

Bytes encodeFrame(OpusEncoder* encoder, const int16_t* pcm, int samples) {
    std::array<uint8_t, 1500> packet;
    const int bytes = opus_encode(encoder, pcm, samples, packet.data(), 1500);
    EXPECT_GT(bytes, 0);
    return Bytes(packet.begin(), packet.begin() + std::max(bytes, 0));
}

// Packets of `frameSamples` samples (120, 240, 480 or 960) from consecutive pieces of a tone.
std::vector<Bytes> packetsOf(int frameSamples, size_t count) {
    auto encoder = referenceEncoder();
    const auto pcm = tone(700, count * frameSamples, 9000);
    std::vector<Bytes> packets;
    for (size_t i = 0; i < count; ++i) {
        packets.push_back(encodeFrame(encoder.get(), pcm.data() + i * frameSamples, frameSamples));
    }
    return packets;
}

// What a fresh decoder makes of the packets, one after the other.
Bytes referenceDecode(const std::vector<Bytes>& packets) {
    int error = 0;
    std::shared_ptr<OpusDecoder> decoder(opus_decoder_create(48000, 1, &error),
                                         &opus_decoder_destroy);
    Bytes all;
    for (const auto& packet : packets) {
        std::array<int16_t, 480> pcm;
        const int samples = opus_decode(decoder.get(), packet.data(),
                                        static_cast<int>(packet.size()), pcm.data(), 480, 0);
        const Bytes bytes = bytesOfSamples(std::span(pcm).first(std::max(samples, 0)));
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

Bytes drain(PCMPlayer& player) {
    Bytes played;
    std::array<uint8_t, 1024> out;
    while (!player.ringState().empty) {
        player.playbackCallback(out.data(), static_cast<int>(out.size()));
        played.insert(played.end(), out.begin(), out.end());
    }
    return played;
}

TEST(opusCodecTest, DecodingHandsOneBlockPerPacketAndRewindsAfterSixteen) {
    opusCodec codec(AudioEndpoint::none);
    const auto packets = packetsOf(480, 32);
    codec.decodeOpusData(packets[0]);  // playback starts closed
    EXPECT_EQ(codec.decoderPositions(), (Positions{0, 0}));

    codec.startPlay();
    codec.player().setVolume(1.0f);  // no fade-in: the played bytes are the decoded ones
    Bytes played;
    for (size_t number = 1; number <= 32; ++number) {
        codec.decodeOpusData(packets[number - 1]);
        const size_t n = (number - 1) % 16 + 1;
        const Positions expected = n == 16  ? Positions{0, 0}
                                   : n == 1 ? Positions{0, 960}
                                            : Positions{1024 * (n - 1), 960 * n};
        EXPECT_EQ(codec.decoderPositions(), expected) << "packet " << number;
        const Bytes block = drain(codec.player());
        EXPECT_EQ(block.size(), n == 1 ? 0u : 1024u) << "packet " << number;
        played.insert(played.end(), block.begin(), block.end());
    }
    EXPECT_EQ(played, referenceDecode(packets));

    codec.stopPlay();
    codec.decodeOpusData(packets[0]);
    EXPECT_EQ(codec.decoderPositions(), (Positions{0, 0}));
    EXPECT_TRUE(codec.player().ringState().empty);
}

TEST(opusCodecTest, DecodingDropsWhatItCannotPlayAndKeepsShortFramesWhole) {
    opusCodec codec(AudioEndpoint::none);
    codec.startPlay();
    codec.player().setVolume(1.0f);
    // Not Opus; a frame count of zero; 20 ms, more than 480 samples.
    for (const Bytes& dropped :
         {bytesOf("\xff\xfe garbage"), Bytes{0x03, 0x00}, packetsOf(960, 1)[0]}) {
        codec.decodeOpusData(dropped);
    }
    EXPECT_EQ(codec.decoderPositions(), (Positions{0, 0}));

    // A 2.5 ms packet, then 5 ms ones: the positions never meet at a block's end, so they
    // march through the whole accumulator; the sound must come out whole regardless.
    std::vector<Bytes> packets = packetsOf(120, 1);
    for (auto& packet : packetsOf(240, 400)) {
        packets.push_back(std::move(packet));
    }
    Bytes played;
    for (const auto& packet : packets) {
        codec.decodeOpusData(packet);
        ASSERT_LE(codec.decoderPositions().end, opusCodec::kDecoderBufferBytes);
        const Bytes block = drain(codec.player());
        played.insert(played.end(), block.begin(), block.end());
    }
    const Bytes decoded = referenceDecode(packets);
    ASSERT_EQ(played.size(), decoded.size() / 1024 * 1024);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), decoded.begin()));
}

TEST(opusCodecTest, EncodingFifteenChunksMakesSixteenPacketsAndRewinds) {
    opusCodec codec(AudioEndpoint::none);
    auto sink = std::make_shared<PacketSink>();
    codec.setDelegate(sink);
    const auto pcm = tone(440, 30 * 512, 12000);
    for (size_t call = 1; call <= 30; ++call) {
        codec.encodePCMData(bytesOfSamples(std::span(pcm).subspan((call - 1) * 512, 512)));
        const size_t n = (call - 1) % 15 + 1;
        EXPECT_EQ(sink->packets.size(), (call - 1) / 15 * 16 + n + (n == 15)) << "call " << call;
        EXPECT_EQ(codec.encoderPositions(),
                  (n == 15 ? Positions{0, 0} : Positions{960 * n, 1024 * n}))
            << "call " << call;
    }
    // Constant 48,000 bit/s in 10 ms packets, frame after frame of the stream.
    auto reference = referenceEncoder();
    for (size_t frame = 0; frame < sink->packets.size(); ++frame) {
        EXPECT_EQ(sink->packets[frame].size(), 60u);
        EXPECT_EQ(sink->packets[frame], encodeFrame(reference.get(), &pcm[frame * 480], 480));
    }
}

TEST(opusCodecTest, EncodingIrregularChunksKeepsTheStreamInsideTheBuffer) {
    opusCodec codec(AudioEndpoint::none);
    auto sink = std::make_shared<PacketSink>();
    codec.setDelegate(sink);
    const auto pcm = tone(300, 48000, 12000);
    size_t used = 0;  // samples counted so far; an odd last byte is copied but not counted
    auto feed = [&](size_t bytes) {
        Bytes chunk = bytesOfSamples(std::span(pcm).subspan(used, (bytes + 1) / 2));
        chunk.resize(bytes);
        codec.encodePCMData(chunk);
        used += bytes / 2;
    };
    feed(1025);
    EXPECT_EQ(codec.encoderPositions(), (Positions{960, 1024}));
    feed(1023);
    EXPECT_EQ(codec.encoderPositions(), (Positions{1920, 2046}));
    feed(100);  // less than a frame waits for more
    EXPECT_EQ(sink->packets.size(), 2u);

    for (uint32_t seed = 12345; used + 1000 < pcm.size();) {
        seed = seed * 1103515245 + 12345;
        feed(1 + (seed >> 16) % 1700);
        ASSERT_LE(codec.encoderPositions().begin, codec.encoderPositions().end);
    }
    auto reference = referenceEncoder();
    ASSERT_GE(sink->packets.size(), 80u);
    for (size_t frame = 0; frame < sink->packets.size(); ++frame) {
        ASSERT_EQ(sink->packets[frame], encodeFrame(reference.get(), &pcm[frame * 480], 480));
    }

    // Chunks as large as the whole accumulator keep what fits.
    for (const size_t bytes : {40000u, 36000u, 35999u, 0u}) {
        codec.encodePCMData(Bytes(bytes, 0x11));
        ASSERT_LE(codec.encoderPositions().end, opusCodec::kEncoderBufferBytes);
    }
}

}  // namespace
}  // namespace vistamo
