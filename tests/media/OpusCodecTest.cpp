#include "media/OpusCodec.h"

#include <gtest/gtest.h>
#include <opus.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "media/AudioSignals.h"

namespace vistamo {
namespace {

using test::bytesOfSamples;
using test::tone;

struct PacketSink : OpusPacketSink {
    void getOpusData(Bytes packet) override { packets.push_back(std::move(packet)); }
    std::vector<Bytes> packets;
};

// An encoder of the tests' own, for packets to decode.
std::shared_ptr<OpusEncoder> plainEncoder() {
    int error = 0;
    return std::shared_ptr<OpusEncoder>(
        opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &error), &opus_encoder_destroy);
}

Bytes encodeFrame(OpusEncoder* encoder, const int16_t* pcm, int samples) {
    std::array<uint8_t, 1500> packet;
    const int bytes = opus_encode(encoder, pcm, samples, packet.data(), 1500);
    EXPECT_GT(bytes, 0);
    return Bytes(packet.begin(), packet.begin() + std::max(bytes, 0));
}

// Packets of `frameSamples` samples (120, 240, 480 or 960) from consecutive pieces of a tone.
std::vector<Bytes> packetsOf(int frameSamples, size_t count) {
    auto encoder = plainEncoder();
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

struct KeptSound : SoundSink {
    void soundDecoded(std::span<const int16_t> samples, int sampleRate, int channels) override {
        EXPECT_EQ(sampleRate, 48000);
        EXPECT_EQ(channels, 1);
        const Bytes bytes = bytesOfSamples(samples);
        kept.insert(kept.end(), bytes.begin(), bytes.end());
    }
    Bytes kept;
};

// Sound sinks get every decoded sample whether the camera's sound plays here or not; the
// player gets nothing while its gate is closed, and a removed or released sink nothing more.
TEST(OpusCodecTest, SoundSinksHearTheCameraWhateverThePlayerDoes) {
    OpusCodec codec(AudioEndpoint::none);
    const auto packets = packetsOf(480, 8);
    auto sink = std::make_shared<KeptSound>();
    auto released = std::make_shared<KeptSound>();
    codec.addSoundSink(sink);
    codec.addSoundSink(sink);
    codec.addSoundSink(released);
    for (size_t index = 0; index < 4; ++index) {
        codec.decodeOpusData(packets[index]);
    }
    EXPECT_TRUE(codec.player().ringState().empty);
    codec.startPlay();
    released.reset();
    for (size_t index = 4; index < 8; ++index) {
        codec.decodeOpusData(packets[index]);
    }
    EXPECT_EQ(sink->kept, referenceDecode(packets));
    EXPECT_FALSE(codec.player().ringState().empty);

    codec.removeSoundSink(sink.get());
    codec.decodeOpusData(packets[0]);
    EXPECT_EQ(sink->kept.size(), referenceDecode(packets).size());
}

TEST(OpusCodecTest, DecodingHandsOneBlockPerPacketWhilePlaying) {
    OpusCodec codec(AudioEndpoint::none);
    const auto packets = packetsOf(480, 32);
    codec.decodeOpusData(packets[0]);  // playback starts closed
    EXPECT_TRUE(codec.player().ringState().empty);

    codec.startPlay();
    codec.player().setVolume(1.0f);  // no fade-in: the played bytes are the decoded ones
    Bytes played;
    for (size_t number = 1; number <= 32; ++number) {
        codec.decodeOpusData(packets[number - 1]);
        // 960 bytes a packet, handed on in 1024-byte blocks: sixteen packets make fifteen.
        const size_t n = (number - 1) % 16 + 1;
        const Bytes block = drain(codec.player());
        EXPECT_EQ(block.size(), n == 1 ? 0u : 1024u) << "packet " << number;
        played.insert(played.end(), block.begin(), block.end());
    }
    EXPECT_EQ(played, referenceDecode(packets));

    codec.stopPlay();
    codec.decodeOpusData(packets[0]);
    EXPECT_TRUE(codec.player().ringState().empty);
}

TEST(OpusCodecTest, DecodingDropsWhatItCannotPlayAndKeepsShortFramesWhole) {
    OpusCodec codec(AudioEndpoint::none);
    codec.startPlay();
    codec.player().setVolume(1.0f);
    // Not Opus; a frame count of zero; 20 ms, more than 480 samples.
    for (const Bytes& dropped :
         {bytesOf("\xff\xfe garbage"), Bytes{0x03, 0x00}, packetsOf(960, 1)[0]}) {
        codec.decodeOpusData(dropped);
    }

    // A 2.5 ms packet, then 5 ms ones: never a whole block at once, and the sound comes out
    // whole, none of the dropped packets in it.
    std::vector<Bytes> packets = packetsOf(120, 1);
    for (auto& packet : packetsOf(240, 400)) {
        packets.push_back(std::move(packet));
    }
    Bytes played;
    for (const auto& packet : packets) {
        codec.decodeOpusData(packet);
        const Bytes block = drain(codec.player());
        played.insert(played.end(), block.begin(), block.end());
    }
    const Bytes decoded = referenceDecode(packets);
    ASSERT_EQ(played.size(), decoded.size() / 1024 * 1024);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), decoded.begin()));
}

// The packets a codec makes of `pcm` handed over in chunks of the byte counts `nextChunk`
// gives. A chunk of an odd count ends in the first byte of a sample that the next chunk
// brings again whole: the codec takes whole samples only.
std::vector<Bytes> encodeInChunks(std::span<const int16_t> pcm,
                                  const std::function<size_t()>& nextChunk) {
    OpusCodec codec(AudioEndpoint::none);
    auto sink = std::make_shared<PacketSink>();
    codec.setDelegate(sink);
    for (size_t used = 0; used < pcm.size();) {
        const size_t bytes = std::min(nextChunk(), (pcm.size() - used) * 2);
        Bytes chunk = bytesOfSamples(pcm.subspan(used, (bytes + 1) / 2));
        chunk.resize(bytes);
        codec.encodePCMData(chunk);
        used += bytes / 2;
    }
    return sink->packets;
}

// The microphone's chunks become 10 ms packets at a constant 48,000 bit/s as soon as each is
// complete, and however the sound was cut into chunks, the packets are the same.
TEST(OpusCodecTest, EncodingMakesTheSamePacketsOfAnyChunks) {
    const auto pcm = tone(300, 48000, 12000);
    const auto byFrame = encodeInChunks(pcm, [] { return size_t{960}; });
    ASSERT_EQ(byFrame.size(), 100u);
    for (const Bytes& packet : byFrame) {
        EXPECT_EQ(packet.size(), 60u);
    }

    OpusCodec codec(AudioEndpoint::none);
    auto sink = std::make_shared<PacketSink>();
    codec.setDelegate(sink);
    const Bytes bytes = bytesOfSamples(pcm);
    for (size_t call = 1; call <= 30; ++call) {
        codec.encodePCMData(ByteView(bytes).subspan((call - 1) * 1024, 1024));
        EXPECT_EQ(sink->packets.size(), call * 512 / 480) << "call " << call;
    }
    EXPECT_TRUE(std::equal(sink->packets.begin(), sink->packets.end(), byFrame.begin()));

    uint32_t seed = 12345;
    const auto irregular = encodeInChunks(pcm, [&] {
        seed = seed * 1103515245 + 12345;
        return size_t{1} + (seed >> 16) % 1700;
    });
    EXPECT_EQ(irregular, byFrame);

    // Chunks as large as the whole accumulator or larger neither crash nor stop the codec.
    for (const size_t chunk : {40000u, 36000u, 35999u, 0u, 1024u}) {
        codec.encodePCMData(Bytes(chunk, 0x11));
    }
    const size_t before = sink->packets.size();
    codec.encodePCMData(Bytes(960, 0x11));
    EXPECT_GT(sink->packets.size(), before);
}

}  // namespace
}  // namespace vistamo
