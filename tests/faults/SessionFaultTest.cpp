// A session with a camera over a link that stalls, runs slower than the stream, carries bytes
// the camera never sent, or is cut: the video freezes and comes back whole, the sound goes on,
// memory stays bounded, and a session that cannot go on ends once and cleanly.
#include <gtest/gtest.h>

#include <thread>

#include "faults/RelayedSession.h"
#include "support/ProcessResources.h"
#include "support/WireClient.h"

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;
using Direction = FaultRelay::Direction;
using Clock = std::chrono::steady_clock;

// Every picture's number could be read (none broken) and the numbers rise; pictures missing
// between them are no more than the decoder dropped plus what the camera skipped, which the
// caller bounds with `allowedGaps`.
void expectWholePicturesInOrder(const std::vector<NumberingRenderer::Shown>& shown) {
    ASSERT_FALSE(shown.empty());
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_GE(shown[i].number, 0) << "picture " << i << " is broken";
        if (i > 0) {
            ASSERT_GT(shown[i].number, shown[i - 1].number) << "at " << i;
        }
    }
}

class SessionFaultTest : public DiskSoundTest {
protected:
    void TearDown() override {
        if (HasFailure() && link) {
            link->camera->printLines("send Cmd(OpusAudio|VideoFrame)");
        }
        link.reset();
        DiskSoundTest::TearDown();
    }

    void start(std::vector<std::string> cameraOptions,
               double silenceSeconds = kStreamSilenceSeconds) {
        link = std::make_unique<RelayedSession>(
            RelayedSession::Options{.camera = cameraOptions, .silenceSeconds = silenceSeconds});
        ASSERT_TRUE(link->camera->waitForLine("verified"));
        ASSERT_TRUE(waitUntil([&] { return link->renderer->count() >= 20; }, 30s));
    }

    std::unique_ptr<RelayedSession> link;
};

TEST_F(SessionFaultTest, StallFreezesTheVideoThenItAndTheSoundComeBackWhole) {
    start({"--fps", "25", "--gop", "25", "--bframes", "--tone", "1000"});
    ASSERT_TRUE(waitUntil([&] { return link->codec->packets > 100; }));

    link->relay->stall(5s);
    const auto stallEnds = Clock::now() + 5s;
    // What was in flight is shown within the first second; then nothing comes.
    std::this_thread::sleep_for(1500ms);
    const size_t frozen = link->renderer->count();
    const size_t packetsFrozen = link->codec->packets;
    std::this_thread::sleep_until(stallEnds - 500ms);
    EXPECT_EQ(link->renderer->count(), frozen) << "pictures came during the stall";
    EXPECT_EQ(link->codec->packets, packetsFrozen) << "sound came during the stall";
    const uint64_t playedAtStallEnd = playedBytes();

    // Pictures and sound come back, and the player plays again (1 s of sounding samples).
    EXPECT_TRUE(waitUntil([&] { return link->renderer->count() >= frozen + 50; }, 30s));
    EXPECT_TRUE(waitUntil([&] { return link->codec->packets >= packetsFrozen + 200; }, 30s));
    EXPECT_TRUE(waitUntil([&] { return soundingSamplesAfter(playedAtStallEnd) >= 48000; }, 30s));
    EXPECT_EQ(link->scanner->devicesDown, 0) << "a stall does not end the session";
    ASSERT_TRUE(link->close());

    const auto shown = link->renderer->shown();
    expectWholePicturesInOrder(shown);
    // The pictures after the stall continue the stream: later numbers than before it.
    EXPECT_GT(shown.back().number, shown[frozen - 1].number + 40);
}

TEST_F(SessionFaultTest, ThrottledLinkDelaysVideoKeepsSoundGoingAndMemoryBounded) {
    // Long enough for the backlog to outgrow what the link and the sockets' buffers hold.
    constexpr int kThrottledSeconds = 8;
    start({"--fps", "30", "--gop", "15", "--size", "640x480", "--tone", "1000"});
    // The stream's own rate, measured on the open link.
    const uint64_t before = link->relay->bytesRelayed(Direction::toViewer);
    std::this_thread::sleep_for(3s);
    const uint64_t streamBitsPerSecond =
        (link->relay->bytesRelayed(Direction::toViewer) - before) * 8 / 3;
    std::printf("stream: %llu bit/s\n", static_cast<unsigned long long>(streamBitsPerSecond));
    ASSERT_GT(streamBitsPerSecond, 64'000u);

    const size_t rssBefore = ProcessResources::residentKilobytes();
    const size_t shownBefore = link->renderer->count();
    const uint64_t droppedBefore = link->decoder->droppedPictures();
    link->relay->setThrottle(Direction::toViewer, streamBitsPerSecond / 2);
    size_t rssMost = rssBefore;
    size_t packets = link->codec->packets;
    for (int second = 0; second < kThrottledSeconds; ++second) {
        std::this_thread::sleep_for(1s);
        rssMost = std::max(rssMost, ProcessResources::residentKilobytes());
        if (second % 2 == 1) {
            // The sound shares the link and slows with it, but never stops.
            EXPECT_GT(link->codec->packets, packets + 20) << "sound stopped by second " << second;
            packets = link->codec->packets;
        }
    }
    const size_t shownThrottled = link->renderer->count() - shownBefore;
    // A 30 picture-per-second camera at half the bit rate: fewer arrive in that time (late),
    // or the decoder dropped some.
    std::printf("throttled: %zu pictures shown in %d s, %llu dropped, RSS %zu -> %zu kB\n",
                shownThrottled, kThrottledSeconds,
                static_cast<unsigned long long>(link->decoder->droppedPictures() - droppedBefore),
                rssBefore, rssMost);
    EXPECT_TRUE(shownThrottled < 27 * kThrottledSeconds ||
                link->decoder->droppedPictures() > droppedBefore);
    EXPECT_GT(shownThrottled, 0u);
    if (!kSanitized) {
        // The backlog waits in the camera and the link, not in this process.
        EXPECT_LT(rssMost, rssBefore + 64 * 1024);
    }

    // Open again: the backlog arrives, the stream catches up, and every picture is whole.
    link->relay->setThrottle(Direction::toViewer, 0);
    const size_t shownOpen = link->renderer->count();
    EXPECT_TRUE(waitUntil([&] { return link->renderer->count() >= shownOpen + 100; }, 60s));
    EXPECT_EQ(link->scanner->devicesDown, 0);
    ASSERT_TRUE(link->close());
    expectWholePicturesInOrder(link->renderer->shown());
}

// Bytes the camera never sent, put in the stream where a message starts. The session skips
// what it can tell is not a message and goes on, or loses its place; it never crashes and can
// always be ended.
TEST_F(SessionFaultTest, WrongBytesInTheStreamNeverEndTheProcess) {
    Bytes garbageHeader(24, 0xa5);
    Bytes hugeLength = wireHeader(102, 0x7fffffffffffffffull);
    Bytes tooShort = wireHeader(102, 8);
    // A video message whose body is cut short: what follows is taken for its body.
    Bytes cutShort = wireHeader(102, 24 + 5000);
    cutShort.resize(cutShort.size() + 300, 0x41);
    // A whole video message of noise, and stream parameters of noise.
    Bytes noiseSlice = wireMessage(102, Bytes(3000, 0x9b));
    Bytes noiseParameters = wireMessage(101, Bytes(64, 0x67));
    struct Case {
        const char* name;
        Bytes bytes;
        bool staysInStep;  // the session reads every following message as the camera sent it
    };
    const std::vector<Case> cases = {
        {"garbage header", garbageHeader, true},   {"length past the limit", hugeLength, true},
        {"length below a header", tooShort, true}, {"body cut short", cutShort, false},
        {"noise slice", noiseSlice, true},         {"noise parameters", noiseParameters, true},
    };
    start({"--fps", "25", "--gop", "10", "--tone", "1000"});
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        if (!link->session) {
            link->connect();
        }
        ASSERT_TRUE(waitUntil([&] { return link->renderer->count() >= 10; }, 30s));
        const size_t shown = link->renderer->count();
        const size_t packets = link->codec->packets;
        link->relay->inject(Direction::toViewer, each.bytes);
        ASSERT_TRUE(waitUntil([&] { return link->relay->pendingInjections() == 0; }));
        if (each.staysInStep) {
            // Pictures from the next key frame on, and the sound, come as before.
            EXPECT_TRUE(waitUntil([&] { return link->renderer->count() >= shown + 30; }, 30s));
            EXPECT_TRUE(waitUntil([&] { return link->codec->packets >= packets + 100; }, 30s));
            EXPECT_EQ(link->scanner->devicesDown, 0);
        } else {
            // Whatever it makes of the rest, the session runs for a while and ends when asked.
            std::this_thread::sleep_for(3s);
        }
        ASSERT_TRUE(link->close());
        link->release();
        EXPECT_TRUE(link->camera->waitForLine("closed"));
    }
}

// A cut ends the session as dropped: its end is handled once, the window hears of it once, and
// everything is let go (the sanitizer build reports any leak).
TEST_F(SessionFaultTest, ResetAndOrderlyCloseEachEndTheSessionOnce) {
    start({"--fps", "25", "--gop", "25", "--tone", "1000"});
    for (const FaultRelay::Cut how : {FaultRelay::Cut::reset, FaultRelay::Cut::close}) {
        SCOPED_TRACE(how == FaultRelay::Cut::reset ? "reset" : "orderly close");
        if (!link->session) {
            link->connect();
            ASSERT_TRUE(waitUntil([&] { return link->renderer->count() >= 10; }, 30s));
        }
        link->relay->cut(how);
        ASSERT_TRUE(waitUntil([&] { return link->scanner->devicesDown > 0; }));
        ASSERT_TRUE(waitUntil([&] { return link->view->closes > 0; }));
        // The sound is let go once the end has been handled.
        ASSERT_TRUE(waitUntil([&] { return !link->session->audioCodec(); }));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(link->scanner->devicesDown, 1);
        EXPECT_EQ(link->view->closes, 1);
        EXPECT_EQ(link->view->lastEnd.load(), SessionEnd::Dropped);
        // Asking to disconnect after the end changes nothing.
        link->session->disconnect();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(link->scanner->devicesDown, 1);
        std::weak_ptr<CameraSession> gone = link->session;
        link->release();
        EXPECT_TRUE(waitUntil([&] { return gone.expired(); })) << "the session is let go";
    }
}

// A stream that goes silent for longer than the silence limit is a dropped session; the stall
// above, shorter than the limit, is not.
TEST_F(SessionFaultTest, SilentStreamDropsTheSession) {
    constexpr double kSilenceSeconds = 2;
    start({"--fps", "25", "--no-audio"}, kSilenceSeconds);
    link->relay->stall();
    const auto stalled = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return link->view->closes > 0; }, 60s));
    const std::chrono::duration<double> silence = Clock::now() - stalled;
    std::printf("the session ended after %.1f s of silence\n", silence.count());
    EXPECT_GE(silence.count(), kSilenceSeconds - 0.1);
    EXPECT_EQ(link->view->lastEnd.load(), SessionEnd::Dropped);
    link->relay->resume();
}

}  // namespace
}  // namespace vistamo::test
