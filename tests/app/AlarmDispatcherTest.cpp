// The alarm policy, with a real session reading a camera peer on loopback and the scanner's
// session host handing its alarms to the dispatcher.
#include "app/AlarmDispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/AlarmDoubles.h"
#include "app/ScannerSessionHost.h"
#include "discovery/CameraRecord.h"
#include "session/CameraSession.h"
#include "session/CommandHeader.h"
#include "session/SessionDoubles.h"
#include "settings/ClipSettings.h"
#include "support/Wait.h"
#include "support/WireClient.h"
#include "support/qt/QtWait.h"

namespace vistamo {
namespace {

using test::waitProcessingEvents;
using test::waitUntil;

class AlarmDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.bOnceAlarm = false;
        options.bEnableRun = true;
        options.runProgram = "Recorder";
        options.bEnableSound = true;
        workspace->running = {{11, "Mail", 1}, {12, "Editor", 1}, {13, "Terminal", 1}};

        AlarmDispatcher::Hooks hooks;
        hooks.bringWindowsForward = [this] { workspace->calls.push_back("front"); };
        hooks.windowOf = [this](const std::weak_ptr<CameraSession>& of) {
            const bool same = !of.owner_before(session) && !session.owner_before(of);
            workspace->calls.push_back(same ? "window of the session" : "window of another");
            return std::optional<AlarmDispatcher::AlarmedWindow>();
        };
        host = std::make_shared<ScannerSessionHost>(options, nullptr, workspace, hooks);

        SessionParts parts;
        parts.makeAlarmPlayer = [this] { return sound; };
        parts.makeRecorder = [this](RecorderSetup) { return recorder; };
        parts.hasLocalAddress = [] { return true; };
        parts.deviceIdentity = [] { return std::string(32, 'a'); };
        session = CameraSession::init(parts);
        session->setScanner(host);
        device->setAddress("127.0.0.1");
        device->setPort(listener.port());
        session->connectToServer(nullptr, device);
        camera = listener.accept();
        ASSERT_TRUE(camera);
        ASSERT_TRUE(waitUntil([&] { return session->socket()->isConnected(); }));
    }

    // Sends `count` alarms, then a challenge request whose answer shows they have been
    // handled: the next message the session sent, which is that answer unless the alarms
    // made it send a command first.
    uint32_t alarmsThenNextCommand(int count) {
        for (int i = 0; i < count; ++i) {
            camera->send(makeMessage(CmdAlarm));
        }
        camera->send(makeMessage(CmdChallengeRequest, 0, 0, Bytes{0}));
        const auto message = camera->readMessageBytes();
        if (!message) {
            return 0;
        }
        const uint32_t command = decodeHeader(*message)->command;
        if (command != CmdChallenge) {
            // Leave the answer to the challenge request behind.
            EXPECT_EQ(decodeHeader(*camera->readMessageBytes())->command, CmdChallenge);
        }
        return command;
    }

    // The alarm passes so far, counted by the launches they made, once the main queue has run
    // the work posted to it.
    size_t passesAfterMainQueue(size_t expected) {
        waitProcessingEvents([&] { return launches() >= expected; });
        // A pass too many would show by now: the main queue runs the posts in order.
        waitProcessingEvents([] { return false; }, std::chrono::milliseconds(50));
        return launches();
    }
    size_t launches() const {
        return std::count(workspace->calls.begin(), workspace->calls.end(), "launch Recorder");
    }

    AlarmOptions options;
    std::shared_ptr<test::RecordingWorkspace> workspace =
        std::make_shared<test::RecordingWorkspace>();
    std::shared_ptr<test::FakeSound> sound = std::make_shared<test::FakeSound>();
    std::shared_ptr<test::RecordingRecorder> recorder = std::make_shared<test::RecordingRecorder>();
    std::shared_ptr<ScannerSessionHost> host;
    test::WireListener listener;
    std::unique_ptr<test::WireClient> camera;
    std::shared_ptr<CameraRecord> device = std::make_shared<CameraRecord>();
    std::shared_ptr<CameraSession> session;
};

// Without "once": the first alarm of a guard period runs the actions, the sound is asked for
// once however many applications run, the camera's window is looked up for the notice; the
// second ends the period and leaves the camera armed, so the third runs them again.
TEST_F(AlarmDispatcherTest, FirstAlarmOfAPeriodRunsTheActionsAndTheSoundOnceTheNextReArms) {
    options.bEnableActive = true;
    options.activeProgram = "editor";
    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge);
    ASSERT_EQ(passesAfterMainQueue(1), 1u);
    EXPECT_EQ(sound->requests, 1) << "once per alarm, not once per running application";
    // The matched application's activation follows a moment later.
    ASSERT_TRUE(waitProcessingEvents([&] { return workspace->calls.size() == 5; }));
    EXPECT_EQ(workspace->calls, (std::vector<std::string>{"launch Recorder", "front",
                                                          "activate " + std::to_string(::getpid()),
                                                          "window of the session", "activate 12"}));

    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge) << "no guard command without once";
    EXPECT_EQ(passesAfterMainQueue(1), 1u);
    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge);
    EXPECT_EQ(passesAfterMainQueue(2), 2u);
    EXPECT_EQ(sound->requests, 2);

    // With the sound switched off it is not asked for.
    options.bEnableSound = false;
    EXPECT_EQ(alarmsThenNextCommand(2), CmdChallenge);
    EXPECT_EQ(passesAfterMainQueue(3), 3u);
    EXPECT_EQ(sound->requests, 2);
}

// "Once", as published: the second alarm of a period switches the guard off with the user's
// stop command, which begins a new period; so does the user's own switch.
TEST_F(AlarmDispatcherTest, OnceModeSwitchesTheGuardOffAtTheSecondAlarm) {
    options.bOnceAlarm = true;
    EXPECT_EQ(alarmsThenNextCommand(2), CmdChallenge) << "not before it is published";
    EXPECT_EQ(passesAfterMainQueue(1), 1u);
    host->publishOptions();

    for (int i = 0; i < 4; ++i) {
        camera->send(makeMessage(CmdAlarm));
    }
    // The first runs the actions, the second switches the guard off and so ends the period;
    // the third and fourth do the same again.
    for (int i = 0; i < 2; ++i) {
        const auto stop = camera->readMessageBytes();
        ASSERT_TRUE(stop);
        EXPECT_EQ(*stop, makeMessage(CmdStopMonitor, 1));
    }
    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge);
    EXPECT_EQ(passesAfterMainQueue(4), 4u);
    // The user arms the camera: the next alarm is the first of a period again.
    session->startMonitor(true);
    auto start = camera->readMessageBytes();
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, makeMessage(CmdStartMonitor, 1));
    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge);
    EXPECT_EQ(passesAfterMainQueue(5), 5u);
}

// With "Record a clip" on for the session, every alarm begins or extends its clip, the second of
// a period too; off, none does.
TEST_F(AlarmDispatcherTest, EveryAlarmExtendsTheClipOnlyWithRecordAClip) {
    session->setClipSettings(ClipSettings{false, 20, 5});
    const Bytes sets = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68};
    camera->send(makeMessage(CmdStreamParameters, 6, 0, sets));
    EXPECT_EQ(alarmsThenNextCommand(1), CmdChallenge);
    EXPECT_EQ(recorder->calls(), (std::vector<std::string>{"sets 6 5"}));

    session->setClipSettings(ClipSettings{true, 30, 4});
    EXPECT_EQ(alarmsThenNextCommand(2), CmdChallenge);
    EXPECT_EQ(recorder->calls(),
              (std::vector<std::string>{"sets 6 5", "clip 4 30", "alarm", "alarm"}));
    EXPECT_EQ(passesAfterMainQueue(2), 2u);
}

// What else sessions see of the scanner: its snapshot counter, saved with its options.
TEST_F(AlarmDispatcherTest, TheSnapshotCounterIsTheScannersOwn) {
    host->setPicID(12);
    EXPECT_EQ(options.picID, 12);
    EXPECT_EQ(host->picID(), 12);
}

}  // namespace
}  // namespace vistamo
