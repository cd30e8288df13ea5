// The camera's media through the whole client over loopback: its video through the session and
// the decoder in display order, its sound onto the output device, and the desktop microphone
// back to the camera.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "media/AudioSignals.h"
#include "media/DecodedFrame.h"
#include "media/FrameMailbox.h"
#include "media/H264Decoder.h"
#include "media/OpusCodec.h"
#include "media/PCMRecorder.h"
#include "session/CameraSession.h"
#include "session/SessionDoubles.h"
#include "support/CameraProcess.h"
#include "support/CountingCodec.h"
#include "support/DiskSound.h"
#include "support/LoopbackSession.h"
#include "support/NumberingRenderer.h"
#include "support/TestStream.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;
using test::CountingCodec;
using test::waitUntil;

// A test camera on loopback; SDL's disk driver plays into, and records from, files in the
// temporary home.
class EndToEnd : public test::DiskSoundTest {
protected:
    void TearDown() override {
        if (HasFailure() && camera) {
            camera->printLines("send CmdOpusAudio");
        }
        session.reset();
        camera.reset();
        DiskSoundTest::TearDown();
    }

    void connect(std::vector<std::string> cameraOptions, SessionParts parts,
                 std::shared_ptr<PictureSink> video = nullptr) {
        cameraOptions.insert(cameraOptions.begin(), {"--port", "0", "--control"});
        camera = std::make_unique<test::CameraProcess>(cameraOptions);
        session =
            test::makeLoopbackSession(std::move(parts), scanner, nullptr, video ? video : renderer);
        devices_.push_back(test::loopbackCamera(camera->port()));
        session->connectToServer(nullptr, devices_.back());
        ASSERT_TRUE(camera->waitForLine("verified"));
    }

    std::unique_ptr<test::CameraProcess> camera;
    std::shared_ptr<CameraSession> session;
    std::shared_ptr<test::NumberingRenderer> renderer = std::make_shared<test::NumberingRenderer>();
    std::shared_ptr<test::RecordingScanner> scanner = std::make_shared<test::RecordingScanner>();
    std::vector<std::shared_ptr<CameraRecord>> devices_;
};

TEST_F(EndToEnd, CameraVideoArrivesInDisplayOrder) {
    std::shared_ptr<H264Decoder> decoder;
    SessionParts parts;
    parts.makeDecoder = [&] { return decoder = std::make_shared<H264Decoder>(); };
    connect({"--no-audio", "--bframes", "--two-slices", "--fps", "60", "--gop", "25"}, parts);
    ASSERT_TRUE(
        waitUntil([&] { return renderer->numbers().size() >= 300; }, std::chrono::seconds(60)));
    session->disconnect();
    decoder->waitForAsynchronousFrames();

    const std::vector<int> numbers = renderer->numbers();
    // Pictures come in display order from the stream's first pictures on; a gap only where the
    // decoder fell behind (a busy or instrumented machine) and counted the pictures it dropped.
    ASSERT_GE(numbers.front(), 0);
    auto missing = static_cast<uint64_t>(numbers.front());
    for (size_t i = 1; i < numbers.size(); ++i) {
        ASSERT_GT(numbers[i], numbers[i - 1]) << "at " << i;
        missing += static_cast<uint64_t>(numbers[i] - numbers[i - 1] - 1);
    }
    EXPECT_LE(missing, decoder->droppedPictures() + 2);
}

TEST_F(EndToEnd, LoopingCameraRepeatsItsStoredPicturesWholeAndInOrder) {
    std::shared_ptr<H264Decoder> decoder;
    SessionParts parts;
    parts.makeDecoder = [&] { return decoder = std::make_shared<H264Decoder>(); };
    // One second at 50 pictures per second is two groups of 25: 50 stored pictures.
    connect({"--no-audio", "--bframes", "--fps", "50", "--gop", "25", "--loop", "1"}, parts);
    ASSERT_TRUE(
        waitUntil([&] { return renderer->numbers().size() >= 130; }, std::chrono::seconds(60)));
    session->disconnect();
    decoder->waitForAsynchronousFrames();

    const std::vector<int> numbers = renderer->numbers();
    uint64_t missing = 0;
    for (size_t i = 1; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << "at " << i;
        const int step = (numbers[i] - numbers[i - 1] + 50) % 50;
        ASSERT_GE(step, 1) << "at " << i;
        missing += static_cast<uint64_t>(step - 1);
    }
    EXPECT_LE(missing, decoder->droppedPictures());
}

// Draws on the main thread through a one-picture mailbox, as the camera window's renderer does.
class MainThreadRenderer : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer& frame) override { mailbox->post(frame); }

    std::shared_ptr<FrameMailbox> mailbox = FrameMailbox::create(
        dispatch::mainQueue(), [this](const PixelBuffer& frame) { drawn.pictureDecoded(frame); });
    test::NumberingRenderer drawn;
};

TEST_F(EndToEnd, BlockedMainThreadStallsNeitherSoundNorStatusNorAlarms) {
    auto codec = std::make_shared<CountingCodec>();
    std::shared_ptr<H264Decoder> decoder;
    SessionParts parts;
    parts.makeDecoder = [&] { return decoder = std::make_shared<H264Decoder>(); };
    parts.makeCodec = [codec] { return codec; };
    auto video = std::make_shared<MainThreadRenderer>();
    connect({"--bframes", "--fps", "30", "--gop", "15", "--alarm-every", "0.3"}, parts, video);
    session->startMonitor(true);
    ASSERT_TRUE(waitUntil([&] { return video->drawn.numbers().size() >= 10; }));

    // The main thread is held for at least 2 s, and until the session has shown that it
    // carries on without it.
    std::mutex gateLock;
    std::condition_variable gate;
    bool open = false;
    std::atomic<bool> blocked{false};
    dispatch::mainQueue().async([&] {
        blocked = true;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::this_thread::sleep_until(until);
        std::unique_lock lock(gateLock);
        gate.wait(lock, [&] { return open; });
    });
    ASSERT_TRUE(waitUntil([&] { return blocked.load(); }));
    const size_t drawnBefore = video->drawn.numbers().size();
    const size_t packetsBefore = codec->packets;
    const uint64_t decodedBefore = decoder->shownPictures();
    const int alarmsBefore = scanner->alarms;
    session->flashSwitch();
    EXPECT_TRUE(waitUntil([&] { return codec->packets >= packetsBefore + 104; }))
        << "the sound goes on";
    EXPECT_TRUE(waitUntil([&] { return session->bFlashing(); })) << "status is handled";
    EXPECT_TRUE(waitUntil([&] { return scanner->alarms > alarmsBefore; })) << "alarms are reported";
    EXPECT_TRUE(waitUntil([&] { return decoder->shownPictures() >= decodedBefore + 30; }))
        << "decoding goes on";
    EXPECT_EQ(video->drawn.numbers().size(), drawnBefore);
    {
        std::lock_guard lock(gateLock);
        open = true;
    }
    gate.notify_all();

    ASSERT_TRUE(waitUntil([&] { return video->drawn.numbers().size() >= drawnBefore + 30; }));
    session->disconnect();
    EXPECT_GT(video->mailbox->dropped(), 0u);
    // Pictures skipped while the main thread was held, none broken, none out of order.
    const std::vector<int> numbers = video->drawn.numbers();
    for (size_t i = 1; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << "at " << i;
        ASSERT_GT(numbers[i], numbers[i - 1]) << "at " << i;
    }
    EXPECT_GT(numbers[drawnBefore], numbers[drawnBefore - 1] + 1);
}

TEST_F(EndToEnd, CameraToneIsPlayed) {
    SessionParts parts;
    parts.makeCodec = [] { return std::make_shared<OpusCodec>(); };
    connect({"--no-video", "--tone", "1000"}, parts);
    ASSERT_TRUE(camera->waitForLine("stream started"));
    // Three seconds of the camera's sound.
    for (int packet = 0; packet < 300; ++packet) {
        ASSERT_TRUE(camera->waitForLine("send CmdOpusAudio"));
    }
    session->disconnect();
    // Releasing the codec closes the output device, which completes the file.
    ASSERT_TRUE(waitUntil([&] { return !session->audioCodec(); }));
    session.reset();

    const auto samples = test::samplesOf(bytesOf(readText(played())));
    const auto sounding =
        std::count_if(samples.begin(), samples.end(), [](int16_t s) { return s; });
    EXPECT_GT(sounding, 48000);
    EXPECT_TRUE(test::toneDominates(samples, 1000));
}

TEST_F(EndToEnd, MicrophoneToneReachesTheCamera) {
    setMicrophone(test::tone(660, 3 * 48000, 12000));
    const fs::path wav = home_ / "intercom.wav";
    connect({"--no-video", "--no-audio", "--intercom-wav", wav.string()}, SessionParts{});

    // Microphone → encoder → the session, as the video controller wires them.
    struct Encoder : PCMRecorderDelegate, OpusPacketSink {
        void getPCMData(Bytes chunk) override { codec->encodePCMData(chunk); }
        void getOpusData(Bytes packet) override {
            if (auto target = session.lock()) {
                target->sendOpus(packet);
            }
        }
        std::shared_ptr<OpusCodec> codec = std::make_shared<OpusCodec>(AudioEndpoint::none);
        std::weak_ptr<CameraSession> session;
    };
    auto encoder = std::make_shared<Encoder>();
    encoder->session = session;
    encoder->codec->setDelegate(std::static_pointer_cast<OpusPacketSink>(encoder));
    {
        PCMRecorder recorder;
        recorder.setDelegate(std::static_pointer_cast<PCMRecorderDelegate>(encoder));
        recorder.start();
        for (int packet = 0; packet < 150; ++packet) {
            ASSERT_TRUE(camera->waitForLine("intercom packet samples=480"));
        }
        recorder.stop();
    }
    camera->stop();

    const Bytes file = bytesOf(readText(wav));
    ASSERT_GE(file.size(), 44u + 150 * 960);
    const auto heard = test::samplesOf(ByteView(file).subspan(44));
    EXPECT_TRUE(test::toneDominates(heard, 660));
}

}  // namespace
}  // namespace vistamo
