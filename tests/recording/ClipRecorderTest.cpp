#include "media/ClipRecorder.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <thread>

#include "dispatch/SerialQueue.h"
#include "recording/CameraFeed.h"
#include "recording/ClipProbe.h"
#include "support/Spawn.h"
#include "support/TempHome.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::CameraFeed;
using test::ClipProbe;
using test::frameRange;
using test::probeClip;
using test::waitUntil;

// What a recorder reported through its callbacks.
struct Reports {
    std::mutex mutex;
    std::vector<std::string> notices;
    std::vector<std::filesystem::path> files;

    size_t fileCount() {
        std::lock_guard lock(mutex);
        return files.size();
    }
    std::vector<std::string> noticesSoFar() {
        std::lock_guard lock(mutex);
        return notices;
    }
};

class ClipRecorderTest : public test::TempHomeTest {
protected:
    ClipRecorder::Options options(CameraFeed& feed, const std::string& name = "Door") {
        ClipRecorder::Options options;
        options.cameraName = name;
        options.clock = feed.clock();
        options.callbackQueue = callbacks_;
        options.onNotice = [this](const std::string& text) {
            std::lock_guard lock(reports_.mutex);
            reports_.notices.push_back(text);
        };
        options.onFinished = [this](const std::filesystem::path& path) {
            std::lock_guard lock(reports_.mutex);
            reports_.files.push_back(path);
        };
        return options;
    }

    std::filesystem::path waitForFile(size_t count) {
        EXPECT_TRUE(waitUntil([&] { return reports_.fileCount() >= count; }));
        std::lock_guard lock(reports_.mutex);
        return reports_.files.size() >= count ? reports_.files[count - 1] : std::filesystem::path();
    }

    // Declared in this order so that the callbacks still queued run before the reports go.
    Reports reports_;
    std::shared_ptr<dispatch::SerialQueue> callbacks_ = dispatch::SerialQueue::create("callbacks");
};

// On demand, with B pictures, timed by arrival and by the camera's own time stamps: the file
// holds every picture from the first key frame after the start, in display order, with the
// sound beside them, named for the camera and the time in the user's Videos folder.
TEST_F(ClipRecorderTest, RecordsWhatTheCameraSentPlayableInDisplayOrder) {
    for (const bool cameraTimes : {false, true}) {
        SCOPED_TRACE(cameraTimes ? "camera times" : "arrival times");
        CameraFeed feed({.frames = 90, .bFrames = true, .keyInterval = 15});
        const size_t filesBefore = reports_.fileCount();
        if (cameraTimes) {
            writeText(home_ / ".config" / "user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Films\"\n");
        }
        ClipRecorder recorder(options(feed, "./Front/door"));

        feed.playUntil(recorder, 0.1, cameraTimes);
        ASSERT_TRUE(recorder.start());
        // Waits for the key frame at 0.5 s; stops just before the one at 2.5 s.
        feed.playUntil(recorder, 2.5, cameraTimes);
        EXPECT_TRUE(recorder.isRecording());
        EXPECT_NEAR(recorder.recordingSeconds(), 2.0, 1e-6);
        recorder.stop();
        const auto path = waitForFile(filesBefore + 1);

        EXPECT_EQ(path.parent_path(), home_ / (cameraTimes ? "Films" : "Videos") / "vistamo+");
        EXPECT_TRUE(std::regex_match(
            path.filename().string(),
            std::regex(R"(Front-door \d{4}-\d\d-\d\d \d\d-\d\d-\d\d( \d)?\.mp4)")));
        const ClipProbe probe = probeClip(path);
        expectPlayable(probe);
        EXPECT_EQ(probe.videoPackets, 60);
        EXPECT_EQ(probe.frameNumbers, frameRange(15, 75));
        EXPECT_NEAR(probe.videoSeconds, 2.0, 0.2);
        EXPECT_NEAR(probe.audioPackets, 200, 5);
    }
    EXPECT_TRUE(reports_.noticesSoFar().empty());
}

// A file holds one picture size: new parameter sets go on in a new file. Destroying the
// recorder (its camera window closed) finishes the file it was writing.
TEST_F(ClipRecorderTest, NewParameterSetsContinueInANewFile) {
    CameraFeed feed({.frames = 60, .bFrames = true, .keyInterval = 15});
    {
        ClipRecorder recorder(options(feed));
        feed.playUntil(recorder, 0.5);
        ASSERT_TRUE(recorder.start());
        feed.playUntil(recorder, 2.0);
        feed.changeStream({.width = 192, .height = 144, .frames = 60, .keyInterval = 15});
        feed.playUntil(recorder, 4.0);
    }
    const auto first = waitForFile(1);
    const auto second = waitForFile(2);

    const ClipProbe before = probeClip(first);
    expectPlayable(before);
    EXPECT_EQ(before.width, 320);
    EXPECT_EQ(before.frameNumbers, frameRange(15, 60));
    const ClipProbe after = probeClip(second);
    expectPlayable(after);
    EXPECT_EQ(after.width, 192);
    EXPECT_EQ(after.frameNumbers, frameRange(0, 60));
    EXPECT_NEAR(after.videoSeconds, 2.0, 0.2);
    EXPECT_TRUE(reports_.noticesSoFar().empty());
}

// Motion: a clip begins on the newest key frame at least the seconds before the alarm, runs
// the seconds after it, is extended by a second alarm, and ends by itself; the next alarm
// makes a second file from the ring kept meanwhile.
TEST_F(ClipRecorderTest, AlarmClipsBeginBeforeTheAlarmAndRunAfterTheLastOne) {
    CameraFeed feed({.frames = 450, .bFrames = true, .keyInterval = 15});
    auto settings = options(feed);
    settings.folder = home_ / "clips";
    settings.secondsBefore = 2;
    settings.secondsAfter = 3;
    ClipRecorder recorder(settings);

    feed.playUntil(recorder, 4.0);
    ASSERT_TRUE(recorder.alarm());
    feed.playUntil(recorder, 5.5);
    ASSERT_TRUE(recorder.alarm());
    feed.playUntil(recorder, 9.5);
    EXPECT_FALSE(recorder.isRecording());
    const auto first = waitForFile(1);
    ASSERT_TRUE(recorder.alarm());
    feed.playUntil(recorder, 14.0);
    const auto second = waitForFile(2);
    EXPECT_NE(first, second);

    struct Expected {
        std::filesystem::path path;
        double alarm;
        double end;
    };
    for (const auto& clip : {Expected{first, 4.0, 8.5}, Expected{second, 9.5, 12.5}}) {
        SCOPED_TRACE(clip.path.string());
        const ClipProbe probe = probeClip(clip.path);
        expectPlayable(probe);
        ASSERT_FALSE(probe.frameNumbers.empty());
        const double begins = probe.frameNumbers.front() * CameraFeed::kPictureSeconds;
        EXPECT_EQ(probe.frameNumbers.front() % 15, 0);
        EXPECT_LE(begins, clip.alarm - 2 + 1e-6);
        EXPECT_GT(begins, clip.alarm - 2 - 0.5);
        EXPECT_EQ(probe.frameNumbers, frameRange(probe.frameNumbers.front(),
                                                 probe.frameNumbers.front() + probe.videoPackets));
        EXPECT_NEAR(probe.videoSeconds, clip.end - begins, 0.2);
    }
}

// What a user can act on is said once, and what was written stays playable.
TEST_F(ClipRecorderTest, FailuresAreSaidOnceAndLeaveAPlayableFile) {
    CameraFeed feed({.frames = 90, .keyInterval = 15});
    {
        ClipRecorder recorder(options(feed));
        EXPECT_FALSE(recorder.start());  // no parameter sets yet
        EXPECT_FALSE(recorder.alarm());
    }
    {
        writeText(home_ / "taken", "a file, not a folder");
        auto settings = options(feed);
        settings.folder = home_ / "taken" / "clips";
        ClipRecorder recorder(settings);
        feed.playUntil(recorder, 0.1);
        EXPECT_FALSE(recorder.start());
    }
    ASSERT_TRUE(waitUntil([&] { return reports_.noticesSoFar().size() == 3; }));
    auto notices = reports_.noticesSoFar();
    EXPECT_NE(notices[0].find("stream parameters"), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find("stream parameters"), std::string::npos) << notices[1];
    EXPECT_NE(notices[2].find("cannot be created"), std::string::npos) << notices[2];

    // A disk that fills up in the second group of pictures.
    auto settings = options(feed);
    settings.writer.failWritesAfterBytes = 60 * 1024;
    ClipRecorder recorder(settings);
    feed.playUntil(recorder, 0.6);
    ASSERT_TRUE(recorder.start());
    feed.playUntil(recorder, 6.0);
    const auto path = waitForFile(1);
    feed.playUntil(recorder, 6.5);
    EXPECT_FALSE(recorder.isRecording());
    notices = reports_.noticesSoFar();
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_NE(notices[3].find("disk is full"), std::string::npos) << notices[3];
    EXPECT_EQ(path.extension(), ".mp4");
    EXPECT_LE(std::filesystem::file_size(path), 60u * 1024);
    const ClipProbe probe = probeClip(path);
    expectPlayable(probe);
    EXPECT_EQ(probe.videoPackets % 15, 0);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
}

// The bytes of the feed's pictures `first` to `last`, as sent.
size_t pictureBytes(const CameraFeed& feed, int first, int last) {
    size_t bytes = 0;
    for (int k = first; k <= last; ++k) {
        for (const auto& slice : feed.stream().pictures[static_cast<size_t>(k)].slices) {
            bytes += slice.size();
        }
    }
    return bytes;
}

// A disk too slow for the camera loses the pictures up to the next key frame, so that what
// is kept still decodes; once the disk keeps up again, so does the recording.
TEST_F(ClipRecorderTest, SlowDiskDropsPicturesUpToTheNextKeyFrame) {
    CameraFeed feed({.frames = 150, .bFrames = true, .keyInterval = 15});
    std::mutex diskMutex;
    std::condition_variable diskMoves;
    bool stalled = true;
    bool writerWaits = false;
    const auto writer = dispatch::SerialQueue::create("writer");
    auto settings = options(feed);
    settings.writerQueue = writer;
    // Everything from the start to the key frame at 1 s (sixteen pictures, two of them key
    // frames, and their sound: some 25 kB) may wait while the writer has not yet begun. What
    // comes while the writer stands still at that key frame, two seconds with three key frames
    // and their sound (some 70 kB), cannot.
    settings.maxBacklogBytes = 2 * pictureBytes(feed, 15, 30) + 2048;
    settings.writer.beforeWrite = [&] {
        std::unique_lock lock(diskMutex);
        writerWaits = true;
        diskMoves.wait(lock, [&] { return !stalled; });
    };
    const auto moveDisk = [&] {
        {
            std::lock_guard lock(diskMutex);
            stalled = false;
        }
        diskMoves.notify_all();
    };
    ClipRecorder recorder(settings);
    feed.playUntil(recorder, 0.5);
    ASSERT_TRUE(recorder.start());
    // The first fragment is written once the picture after the key frame at 1 s is in.
    feed.playUntil(recorder, 1.05);
    const bool writerStopped = waitUntil([&] {
        std::lock_guard lock(diskMutex);
        return writerWaits;
    });
    if (writerStopped) {
        feed.playUntil(recorder, 3.0);
    }
    moveDisk();
    ASSERT_TRUE(writerStopped);
    // Handed over no faster than the writer writes, the rest is kept.
    writer->sync([] {});
    for (double until = 3.1; until <= 5.0 + 1e-9; until += 0.1) {
        feed.playUntil(recorder, until);
        writer->sync([] {});
    }
    recorder.stop();
    const ClipProbe probe = probeClip(waitForFile(1));
    expectPlayable(probe);
    ASSERT_FALSE(probe.frameNumbers.empty());
    EXPECT_LT(probe.videoPackets, 135);
    // After a gap the pictures go on with a key frame; only a non-reference picture shown
    // just before a kept one may be missing on its own.
    EXPECT_EQ(probe.frameNumbers.front(), 15);
    for (size_t i = 1; i < probe.frameNumbers.size(); ++i) {
        const int number = probe.frameNumbers[i];
        const int previous = probe.frameNumbers[i - 1];
        if (number != previous + 1 && number != previous + 2) {
            EXPECT_EQ(number % 15, 0) << previous << " then " << number;
        }
    }
    // From the first key frame after the stall, every picture.
    const auto resumed = std::ranges::find(probe.frameNumbers, 90);
    EXPECT_EQ(std::vector<int>(resumed, probe.frameNumbers.end()), frameRange(90, 150));
    const auto notices = reports_.noticesSoFar();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("cannot keep up"), std::string::npos);
}

int moofCount(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    int count = 0;
    for (size_t at = bytes.find("moof"); at != std::string::npos; at = bytes.find("moof", at + 4)) {
        ++count;
    }
    return count;
}

// A recording whose process is killed keeps every whole fragment playable.
TEST_F(ClipRecorderTest, KilledRecordingPlaysUpToItsLastFragment) {
    const auto folder = home_ / "killed";
    ::setenv("VISTAMO_CLIP_FOLDER", folder.c_str(), 1);
    const pid_t child = test::spawnProcess(
        {"/proc/self/exe", "--gtest_filter=ClipRecorderChild.DISABLED_RecordsUntilKilled",
         "--gtest_also_run_disabled_tests"});
    ::unsetenv("VISTAMO_CLIP_FOLDER");
    ASSERT_GT(child, 0);

    std::filesystem::path part;
    const bool enough = waitUntil(
        [&] {
            std::error_code ignored;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
                part = entry.path();
            }
            return !part.empty() && moofCount(part) >= 4;
        },
        std::chrono::seconds(120));
    ::kill(child, SIGKILL);
    const auto status = test::reapProcess(child, std::chrono::hours(1));
    ASSERT_TRUE(enough);
    EXPECT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(part.extension(), ".part");

    const ClipProbe probe = probeClip(part);
    expectPlayable(probe);
    EXPECT_GE(probe.videoPackets, 3 * 15);
}

// The child of the test above: records a camera until it is killed.
TEST(ClipRecorderChild, DISABLED_RecordsUntilKilled) {
    const char* folder = std::getenv("VISTAMO_CLIP_FOLDER");
    ASSERT_NE(folder, nullptr);
    CameraFeed feed({.frames = 90, .bFrames = true, .keyInterval = 15});
    ClipRecorder::Options options;
    options.cameraName = "Killed";
    options.folder = folder;
    options.clock = feed.clock();
    ClipRecorder recorder(options);
    feed.playUntil(recorder, 0.1);
    ASSERT_TRUE(recorder.start());
    for (double until = 0.2;; until += 0.1) {
        feed.playUntil(recorder, until);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace
}  // namespace vistamo
