// Real SDL audio devices through SDL's disk driver: the output device writes what it plays to a
// file, the capture device reads what it records from one.
#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "media/AudioSignals.h"
#include "media/ISSoundAdditions.h"
#include "media/PCMRecorder.h"
#include "media/SDLAudio.h"
#include "media/opusCodec.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;
using test::bytesOfSamples;
using test::samplesOf;
using test::tone;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Each test gets its own files, and gives every reference on SDL's audio back.
class DiskAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "vistamo-audio-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", output().c_str(), 1);
        ::setenv("SDL_DISKAUDIOFILEIN", input().c_str(), 1);
    }
    void TearDown() override {
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path output() const { return folder_ / "played.raw"; }
    fs::path input() const { return folder_ / "microphone.raw"; }

    fs::path folder_;
};

// A packet the decoder takes as 10 ms of sound.
Bytes tenMilliseconds() {
    Bytes packet(60, 0x5a);
    packet[0] = 0xf0;  // CELT, full band, 10 ms, one frame
    return packet;
}

// Hands each packet to the playing codec, waiting while the player has several blocks queued
// so that nothing is skipped.
struct Forwarder : opusCodecDelegate {
    explicit Forwarder(opusCodec& codec) : to(codec) {}
    void getOpusData(Bytes packet) override {
        EXPECT_TRUE(test::waitUntil([&] { return to.player().ringState().queuedBlocks < 4; }));
        to.decodeOpusData(packet);
        ++packets;
    }
    opusCodec& to;
    size_t packets = 0;
};

TEST_F(DiskAudioTest, CameraToneIsPlayedOnTheOutputDevice) {
    auto camera = tone(1000, 180 * 512, 20000);  // 1.92 s: 192 packets, 180 blocks
    {
        opusCodec playing;
        playing.startPlay();
        opusCodec microphone(AudioEndpoint::none);
        auto forwarder = std::make_shared<Forwarder>(playing);
        microphone.setDelegate(forwarder);
        for (size_t at = 0; at + 512 <= camera.size(); at += 512) {
            microphone.encodePCMData(bytesOfSamples(std::span(camera).subspan(at, 512)));
        }
        EXPECT_EQ(forwarder->packets, 192u);
        EXPECT_TRUE(test::waitUntil([&] { return playing.player().ringState().empty; }));
    }  // the device closes and the file is complete

    const auto played = samplesOf(readFile(output()));
    const auto sounding = std::count_if(played.begin(), played.end(), [](int16_t s) { return s; });
    EXPECT_GT(sounding, 170 * 512);
    EXPECT_TRUE(test::toneDominates(played, 1000));
}

TEST_F(DiskAudioTest, MicrophoneToneReachesTheDelegate) {
    const Bytes microphone = bytesOfSamples(tone(1500, 48000, 10000));
    writeFile(input(), microphone);

    struct Sink : PCMRecorderDelegate {
        void getPCMData(Bytes chunk) override {
            std::lock_guard guard(lock);
            chunks.push_back(std::move(chunk));
        }
        size_t count() {
            std::lock_guard guard(lock);
            return chunks.size();
        }
        std::mutex lock;
        std::vector<Bytes> chunks;
    };
    auto sink = std::make_shared<Sink>();
    {
        PCMRecorder recorder;
        EXPECT_TRUE(recorder.inputID().empty());  // the disk driver names no default device
        recorder.setDelegate(sink);
        recorder.start();
        EXPECT_TRUE(test::waitUntil([&] { return sink->count() >= 60; }));
        recorder.stop();
    }

    // Chunks of the file, whole and in order, from its start.
    std::lock_guard guard(sink->lock);
    ASSERT_GE(sink->chunks.size(), 60u);
    EXPECT_TRUE(std::equal(sink->chunks[0].begin(), sink->chunks[0].end(), microphone.begin()));
    Bytes heard;
    auto from = microphone.begin();
    for (size_t i = 0; i < 60; ++i) {
        const Bytes& chunk = sink->chunks[i];
        ASSERT_EQ(chunk.size(), 1024u);
        from = std::search(from, microphone.end(), chunk.begin(), chunk.end());
        ASSERT_NE(from, microphone.end()) << "chunk " << i;
        heard.insert(heard.end(), chunk.begin(), chunk.end());
    }
    EXPECT_TRUE(test::toneDominates(samplesOf(heard), 1500));
}

TEST_F(DiskAudioTest, PlayersAndRecordersComeAndGoOnSeveralThreads) {
    writeFile(input(), Bytes(48000, 0));
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 3; ++thread) {
        threads.emplace_back([] {
            for (int round = 0; round < 4; ++round) {
                opusCodec codec;
                codec.startPlay();
                PCMRecorder recorder;
                recorder.start();
                for (int i = 0; i < 20; ++i) {
                    codec.decodeOpusData(tenMilliseconds());
                }
                codec.stopPlay();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

TEST_F(DiskAudioTest, WithoutAnyAudioDriverEverythingCarriesOnQuietly) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        // The first ones may say that there is no device.
        opusCodec codec;
        PCMRecorder recorder;
    }
    testing::internal::CaptureStderr();
    {
        opusCodec codec;
        codec.startPlay();
        for (int i = 0; i < 40; ++i) {
            codec.decodeOpusData(tenMilliseconds());
        }
        EXPECT_EQ(codec.player().ringState().queuedBlocks, 10u);  // kept, as nothing plays

        PCMRecorder recorder;
        recorder.start();
        EXPECT_TRUE(recorder.isRecording());
        recorder.stop();
        EXPECT_FALSE(recorder.isRecording());

        AudioInputDevice device;
        EXPECT_LT(ISSoundAdditions::setSampleRateForDeviceID(device, {48000.0, 48000.0}), 0);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("could not get default audio output device"), std::string::npos) << said;
    EXPECT_EQ(said.find("no audio input device"), std::string::npos) << said;
    EXPECT_NE(said.find("Unable to get default audio device"), std::string::npos) << said;
}

// SDL starts its event subsystem along with audio; Ctrl-C must still end the application.
TEST_F(DiskAudioTest, LeavesTheApplicationsSignalsAlone) {
    struct sigaction before {};
    struct sigaction during {};
    ::sigaction(SIGINT, nullptr, &before);
    {
        opusCodec codec;
        ::sigaction(SIGINT, nullptr, &during);
    }
    EXPECT_EQ(during.sa_handler, before.sa_handler);
}

TEST_F(DiskAudioTest, InputDeviceSettingsBecomeTheCaptureRequest) {
    SDLAudio audio;
    ASSERT_TRUE(audio.running()) << audio.error();
    AudioInputDevice device;
    EXPECT_EQ(ISSoundAdditions::setCurrentIOBufferFrameSizeWithInputDeviceID(device, 512), 0);
    EXPECT_LT(ISSoundAdditions::setCurrentIOBufferFrameSizeWithInputDeviceID(device, 70000), 0);
    EXPECT_EQ(ISSoundAdditions::setSampleRateForDeviceID(device, {48000.0, 48000.0}), 0);
    testing::internal::CaptureStderr();
    EXPECT_LT(ISSoundAdditions::setSampleRateForDeviceID(device, {48000.0, 44100.0}), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot set sample rate"),
              std::string::npos);
    EXPECT_EQ(device.bufferFrameSize, 512u);
    EXPECT_EQ(device.sampleRate, 48000.0);
}

}  // namespace
}  // namespace vistamo
