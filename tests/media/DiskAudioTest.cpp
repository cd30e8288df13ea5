// Real SDL audio devices through SDL's disk driver: the output device writes what it plays to a
// file, the capture device reads what it records from one. (The sound itself is checked end to
// end in EndToEndTest.)
#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "media/MicrophoneSettings.h"
#include "media/OpusCodec.h"
#include "media/PCMRecorder.h"
#include "support/DiskSound.h"

namespace vistamo {
namespace {

// Each test gives every reference on SDL's audio back.
class DiskAudioTest : public test::DiskSoundTest {
protected:
    void TearDown() override {
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        DiskSoundTest::TearDown();
    }
};

// A packet the decoder takes as 10 ms of sound.
Bytes tenMilliseconds() {
    Bytes packet(60, 0x5a);
    packet[0] = 0xf0;  // CELT, full band, 10 ms, one frame
    return packet;
}

TEST_F(DiskAudioTest, PlayersAndRecordersComeAndGoOnSeveralThreads) {
    writeText(microphone(), std::string(48000, '\0'));
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 3; ++thread) {
        threads.emplace_back([] {
            for (int round = 0; round < 4; ++round) {
                OpusCodec codec;
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
    setVariable("SDL_AUDIODRIVER", "no-such-driver");
    {
        // The first ones may say that there is no device.
        OpusCodec codec;
        PCMRecorder recorder;
    }
    testing::internal::CaptureStderr();
    {
        OpusCodec codec;
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
        EXPECT_LT(MicrophoneSettings::setSampleRateForDeviceID(device, {48000.0, 48000.0}), 0);
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
        OpusCodec codec;
        ::sigaction(SIGINT, nullptr, &during);
    }
    EXPECT_EQ(during.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace vistamo
