// A camera as a webcam and microphone, read by other programs through a private PipeWire: the
// test camera's pictures and tone through the real session, decoder and codec into the nodes,
// and out through a reader of the test's own, GStreamer and a V4L2-only program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "faults/RelayedSession.h"
#include "media/AudioSignals.h"
#include "support/PipeWireDaemons.h"
#include "support/PipeWireReader.h"
#include "support/TestStream.h"
#include "support/Wait.h"
#include "webcam/CameraWebcam.h"

namespace vistamo {
namespace {

using namespace std::chrono_literals;
using test::PipeWireDaemons;
using test::PipeWireReader;
using test::waitUntil;

constexpr const char* kIdentity = "uuid:5A3C0E17B2D94F6880A1C4E7D2B93F05";
constexpr const char* kCameraName = "Test Camera";

class WebcamTest : public ::testing::Test {
protected:
    void SetUp() override {
        daemons = std::make_unique<PipeWireDaemons>();
        connection = PipeWireConnection::open();
        ASSERT_TRUE(connection);
    }
    void TearDown() override {
        if (HasFailure() && daemons) {
            std::cerr << "PipeWire's logs: " << daemons->logFolder() << "\n" << daemons->dump();
        }
        link.reset();
        webcam.reset();
        connection.reset();
        daemons.reset();
    }

    // A camera and its session, their pictures and sound going to the webcam as well.
    void startCamera(std::vector<std::string> options) {
        link = std::make_unique<test::RelayedSession>(
            test::RelayedSession::Options{std::move(options), AudioEndpoint::none, 2.0});
        if (!webcam) {
            webcam = std::make_unique<CameraWebcam>(connection, kIdentity, kCameraName);
        }
        attach();
    }
    void attach() {
        link->session->addPictureSink(webcam->video());
        link->session->addSoundSink(webcam->microphone());
    }

    std::optional<std::string> nodeProperties(const WebcamNodeNames& names) const {
        return PipeWireDaemons::nodeProperties(daemons->dump(), names.nodeName);
    }

    std::unique_ptr<PipeWireDaemons> daemons;
    std::shared_ptr<PipeWireConnection> connection;
    std::unique_ptr<test::RelayedSession> link;
    std::unique_ptr<CameraWebcam> webcam;
    const WebcamNodeNames video = webcamVideoNames(kIdentity, kCameraName);
    const WebcamNodeNames microphone = webcamMicrophoneNames(kIdentity, kCameraName);
};

// Frame numbers that only go up, each picture once.
::testing::AssertionResult inOrderOnce(const std::vector<int>& numbers) {
    for (size_t index = 0; index < numbers.size(); ++index) {
        if (numbers[index] < 0 || (index > 0 && numbers[index] <= numbers[index - 1])) {
            return ::testing::AssertionFailure()
                   << "frame number " << numbers[index] << " at " << index << " after "
                   << (index > 0 ? numbers[index - 1] : -1);
        }
    }
    return ::testing::AssertionSuccess();
}

// Pictures in order, each once, except the repeat the node sends on purpose when no new picture
// came for a while (a loaded machine can hold the camera or the decoder back that long).
::testing::AssertionResult inOrderOnce(const std::vector<PipeWireReader::Picture>& pictures) {
    for (size_t index = 1; index < pictures.size(); ++index) {
        const auto& previous = pictures[index - 1];
        const auto& picture = pictures[index];
        const bool repeat = picture.number == previous.number &&
                            picture.at - previous.at >= WebcamVideoNode::kRepeatInterval / 2;
        if (picture.number < 0 || (picture.number <= previous.number && !repeat)) {
            return ::testing::AssertionFailure() << "frame number " << picture.number << " at "
                                                 << index << " after " << previous.number;
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<int> numbersOf(const std::vector<PipeWireReader::Picture>& pictures) {
    std::vector<int> numbers;
    for (const auto& picture : pictures) {
        numbers.push_back(picture.number);
    }
    return numbers;
}

TEST_F(WebcamTest, NodesCarryTheCameraPictureAndToneUntilReleased) {
    startCamera({"--tone", "1000"});
    ASSERT_TRUE(waitUntil([&] { return nodeProperties(video) && nodeProperties(microphone); }));

    const std::string videoNode = *nodeProperties(video);
    EXPECT_EQ(PipeWireDaemons::property(videoNode, "media.class"), "Video/Source");
    EXPECT_EQ(PipeWireDaemons::property(videoNode, "media.role"), "Camera");
    EXPECT_EQ(PipeWireDaemons::property(videoNode, "media.category"), "Capture");
    EXPECT_EQ(PipeWireDaemons::property(videoNode, "node.description"), "Test Camera (vistamo)");
    EXPECT_EQ(video.nodeName, "vistamo.camera.uuid_5A3C0E17B2D94F6880A1C4E7D2B93F05");
    const std::string soundNode = *nodeProperties(microphone);
    EXPECT_EQ(PipeWireDaemons::property(soundNode, "media.class"), "Audio/Source");
    EXPECT_EQ(PipeWireDaemons::property(soundNode, "node.description"),
              "Test Camera microphone (vistamo)");

    PipeWireReader pictures(PipeWireReader::Kind::video, video.nodeName);
    PipeWireReader sound(PipeWireReader::Kind::sound, microphone.nodeName);
    ASSERT_TRUE(waitUntil([&] { return pictures.pictureCount() >= 50; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return sound.sampleCount() >= 48000; }, 30s));

    const auto read = pictures.pictures();
    EXPECT_EQ(pictures.formats(), (std::vector<PipeWireReader::Size>{{320, 240}}));
    EXPECT_TRUE(std::all_of(read.begin(), read.end(), [](const auto& picture) {
        return picture.width == 320 && picture.height == 240;
    }));
    EXPECT_TRUE(inOrderOnce(read));
    const std::vector<int> numbers = numbersOf(read);
    // A reader that keeps up misses hardly any picture.
    EXPECT_LT(numbers.back() - numbers.front(), 2 * static_cast<int>(numbers.size()));

    const std::vector<int16_t> samples = sound.samples();
    const std::span<const int16_t> lastHalfSecond(samples.data() + samples.size() - 24000, 24000);
    EXPECT_TRUE(test::toneDominates(lastHalfSecond, 1000));

    webcam.reset();
    EXPECT_TRUE(waitUntil([&] { return !nodeProperties(video) && !nodeProperties(microphone); }));
}

TEST_F(WebcamTest, SurvivesACutAndRenegotiatesANewPictureSize) {
    startCamera({});
    ASSERT_TRUE(waitUntil([&] { return nodeProperties(video).has_value(); }));
    PipeWireReader pictures(PipeWireReader::Kind::video, video.nodeName);
    PipeWireReader sound(PipeWireReader::Kind::sound, microphone.nodeName);
    ASSERT_TRUE(waitUntil([&] { return pictures.pictureCount() >= 20; }, 30s));

    // The link stands still: the last picture comes again, slowly, and the microphone is silent.
    link->relay->stall();
    const size_t live = pictures.pictureCount();
    ASSERT_TRUE(waitUntil([&] { return pictures.pictureCount() >= live + 4; }, 30s));
    const auto held = pictures.pictures();
    const auto repeats = std::vector(held.end() - 3, held.end());
    for (const auto& repeat : repeats) {
        EXPECT_EQ(repeat.number, repeats.front().number);
    }
    // Far slower than the camera's 25 pictures a second, however late the reader sees them.
    EXPECT_GE(repeats.back().at - repeats.front().at, WebcamVideoNode::kRepeatInterval);
    const size_t heard = sound.sampleCount();
    ASSERT_TRUE(waitUntil([&] { return sound.sampleCount() >= heard + 24000; }, 30s));
    const auto samples = sound.samples();
    EXPECT_TRUE(std::all_of(samples.end() - 4800, samples.end(), [](int16_t s) { return s == 0; }));

    // The session drops and a new one comes: the same nodes go on with the camera's pictures.
    link->relay->cut(test::FaultRelay::Cut::reset);
    link->release();
    link->relay->resume();
    link->connect(AudioEndpoint::none);
    attach();
    const size_t before = pictures.pictureCount();
    ASSERT_TRUE(waitUntil([&] { return pictures.pictureCount() >= before + 20; }, 30s));
    const auto after = pictures.pictures();
    EXPECT_TRUE(inOrderOnce(std::vector(after.end() - 15, after.end())));
    ASSERT_TRUE(waitUntil([&] { return sound.sampleCount() >= heard + 48000; }, 30s));
    const auto resumed = sound.samples();
    EXPECT_TRUE(test::toneDominates(std::span(resumed.end() - 24000, resumed.end()), 440));

    // A camera with another picture size: the format is agreed again and pictures come at it.
    link.reset();
    startCamera({"--size", "640x480"});
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto read = pictures.pictures();
            return std::count_if(read.begin(), read.end(), [](const auto& picture) {
                       return picture.width == 640 && picture.number >= 0;
                   }) >= 10;
        },
        30s));
    EXPECT_EQ(pictures.formats().back(), (PipeWireReader::Size{640, 480}));
}

// Programs of others: GStreamer's PipeWire source, and a program that knows only V4L2 started
// through pw-v4l2; both get the camera's pictures in order.
TEST_F(WebcamTest, GStreamerAndV4L2ProgramsReadTheCamera) {
    startCamera({});
    ASSERT_TRUE(waitUntil([&] { return nodeProperties(video).has_value(); }));
    constexpr size_t kPictureBytes = 320 * 240 * 3 / 2;
    const auto numbersIn = [](const std::string& raw) {
        std::vector<int> numbers;
        for (size_t at = 0; at + kPictureBytes <= raw.size(); at += kPictureBytes) {
            numbers.push_back(test::readFrameNumber(
                reinterpret_cast<const uint8_t*>(raw.data() + at), 320, 320, 240));
        }
        return numbers;
    };

    const auto gstreamer = test::runForOutput(
        {"gst-launch-1.0", "-q", "pipewiresrc", "target-object=" + video.nodeName, "num-buffers=20",
         "!", "video/x-raw,format=I420,width=320,height=240", "!", "fdsink"});
    ASSERT_TRUE(gstreamer);
    const auto fromGStreamer = numbersIn(*gstreamer);
    EXPECT_EQ(fromGStreamer.size(), 20u);
    EXPECT_TRUE(inOrderOnce(fromGStreamer));

    // Every picture as it came: ffmpeg would otherwise repeat pictures to keep a constant rate.
    const auto v4l2 =
        test::runForOutput({"pw-v4l2", "ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "v4l2",
                            "-i", "/dev/video0", "-frames:v", "20", "-fps_mode", "passthrough",
                            "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    ASSERT_TRUE(v4l2);
    const auto fromV4L2 = numbersIn(*v4l2);
    EXPECT_EQ(fromV4L2.size(), 20u);
    EXPECT_TRUE(inOrderOnce(fromV4L2));
}

// Without a PipeWire daemon the webcam says why and stays off.
TEST(WebcamAbsentTest, NoDaemonLeavesTheWebcamOff) {
    const auto folder = std::filesystem::temp_directory_path() / "vistamo-no-pipewire";
    std::filesystem::create_directories(folder);
    const std::string saved = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    ::setenv("PIPEWIRE_RUNTIME_DIR", folder.c_str(), 1);
    std::string why;
    EXPECT_EQ(PipeWireConnection::open(&why), nullptr);
    EXPECT_FALSE(why.empty());
    ::unsetenv("PIPEWIRE_RUNTIME_DIR");
    if (saved.empty()) {
        ::unsetenv("XDG_RUNTIME_DIR");
    } else {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }
}

}  // namespace
}  // namespace vistamo
