#include "app/AlarmActions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "app/ScannerSessionHost.h"
#include "platform/SoundPlayer.h"
#include "support/qt/QtWait.h"

namespace vistamo {
namespace {

using test::waitProcessingEvents;

// Records every request, in order, as one line of text.
class RecordingWorkspace : public Workspace {
public:
    std::vector<RunningApplication> running;
    std::vector<std::string> calls;

    std::vector<RunningApplication> runningApplications() override { return running; }
    bool launchApplication(const std::string& name) override {
        calls.push_back("launch " + name);
        return true;
    }
    bool activate(const RunningApplication& app) override { return record("activate", app); }
    bool forceTerminate(const RunningApplication& app) override { return record("force", app); }
    bool terminate(const RunningApplication& app) override { return record("terminate", app); }

private:
    bool record(const char* what, const RunningApplication& app) {
        calls.push_back(std::string(what) + " " + std::to_string(app.processIdentifier));
        return true;
    }
};

// A sound that plays until told it has ended.
class FakeSound : public SoundPlayer {
public:
    void play() override {
        if (!playing) {
            playing = true;
            ++starts;
        }
    }
    bool isPlaying() const override { return playing; }

    bool playing = false;
    int starts = 0;
};

class AlarmActionsTest : public ::testing::Test {
protected:
    AlarmPassContext context() {
        AlarmPassContext context;
        context.workspace = workspace_;
        context.options = [this] {
            ++optionReads_;
            return options_;
        };
        context.bringMainWindowToFront = [this] { workspace_->calls.push_back("front"); };
        context.activateViewer = [this] { workspace_->calls.push_back("viewer"); };
        context.alarmSound = sound_;
        return context;
    }

    std::shared_ptr<RecordingWorkspace> workspace_ = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<FakeSound> sound_ = std::make_shared<FakeSound>();
    AlarmOptions options_;
    int optionReads_ = 0;
};

TEST(AlarmNamesTest, AppSuffixRuleAndWholeNameMatching) {
    for (const char* name : {"Editor", "Editor.app", "Editor.APP", "Editor.aPp"}) {
        EXPECT_EQ(launchNameFor(name), "Editor.app") << name;
        EXPECT_EQ(launchedApplicationName(name), "Editor") << name;
    }
    EXPECT_EQ(launchNameFor("ab"), "ab.app");
    EXPECT_EQ(launchNameFor("my.apps"), "my.apps.app");
    EXPECT_EQ(launchedApplicationName("x.app.app"), "x.app");

    EXPECT_TRUE(applicationNameMatches("Terminal", "terminal"));
    EXPECT_TRUE(applicationNameMatches("terminal", "TERMINAL"));
    EXPECT_FALSE(applicationNameMatches("Terminal", "Term"));
    EXPECT_FALSE(applicationNameMatches("Term", "Terminal"));
    EXPECT_FALSE(applicationNameMatches("", ""));
}

TEST_F(AlarmActionsTest, OnePassLaunchesOnceAndActsOnMatchingApplicationsInOrder) {
    workspace_->running = {
        {11, "Terminal", 1}, {12, "Mail", 1}, {13, "terminal", 1}, {14, "Term", 1}};
    options_.bEnableRun = true;
    options_.runProgram = "Recorder.APP";
    options_.bEnableTerminate = true;
    options_.terminateProgram = "TERMINAL";
    options_.bEnableActive = true;
    options_.activeProgram = "mail";
    options_.bEnableSound = true;

    runAlarmPass(context());
    EXPECT_EQ(optionReads_, 4) << "the options are read afresh for each application";
    EXPECT_EQ(sound_->starts, 1);
    // The activation of the matched application follows a moment later, on the main queue.
    EXPECT_EQ(workspace_->calls,
              (std::vector<std::string>{"launch Recorder", "force 11", "terminate 11", "front",
                                        "viewer", "force 13", "terminate 13"}));
    ASSERT_TRUE(waitProcessingEvents([&] { return workspace_->calls.size() == 8; }));
    EXPECT_EQ(workspace_->calls.back(), "activate 12");

    // Switched off, matching applications are left alone. The sound still plays: a second pass
    // does not restart it; once it has ended, it does, with no application running too.
    workspace_->calls.clear();
    options_.bEnableTerminate = false;
    options_.bEnableActive = false;
    runAlarmPass(context());
    EXPECT_EQ(workspace_->calls, (std::vector<std::string>{"launch Recorder"}));
    EXPECT_EQ(sound_->starts, 1);
    sound_->playing = false;
    workspace_->running.clear();
    runAlarmPass(context());
    EXPECT_EQ(sound_->starts, 2);
    EXPECT_EQ(workspace_->calls.size(), 2u);

    // Everything off: nothing at all, not even later.
    options_.bEnableRun = false;
    options_.bEnableSound = false;
    sound_->playing = false;
    workspace_->running = {{12, "Mail", 1}};
    runAlarmPass(context());
    EXPECT_FALSE(waitProcessingEvents([&] { return workspace_->calls.size() > 2; },
                                      std::chrono::milliseconds(50)));
    EXPECT_EQ(sound_->starts, 2);
}

TEST_F(AlarmActionsTest, DelayedTerminationEndsTheApplicationLater) {
    const RunningApplication app{21, "Mail", 5};
    forceTerminateApplication(workspace_, app);
    EXPECT_TRUE(workspace_->calls.empty());
    ASSERT_TRUE(waitProcessingEvents([&] { return workspace_->calls.size() == 2; }));
    EXPECT_EQ(workspace_->calls, (std::vector<std::string>{"force 21", "terminate 21"}));
}

// What camera sessions see of the scanner: its options, its windows and the workspace.
TEST(ScannerSessionHostTest, SessionsSeeThePublishedAlarmModeAndTheScannersOptionsAndWindows) {
    AlarmOptions options;
    options.bOnceAlarm = false;
    auto workspace = std::make_shared<RecordingWorkspace>();
    workspace->running = {RunningApplication{42, "Editor", 7}};
    std::vector<std::string> asked;
    ScannerSessionHost::Hooks hooks;
    hooks.bringWindowsForward = [&] { asked.push_back("front"); };
    hooks.windowOf = [&](const std::weak_ptr<CameraSession>& session) {
        asked.push_back(session.expired() ? "window of none" : "window of a session");
        return std::optional<ScannerSessionHost::AlarmedWindow>();
    };
    ScannerSessionHost host(options, nullptr, workspace, hooks);

    // Sessions read the alarm mode on their queues, as last published.
    const auto readElsewhere = [&] {
        bool value = true;
        std::thread([&] { value = host.bOnceAlarm(); }).join();
        return value;
    };
    EXPECT_FALSE(readElsewhere());
    options.bOnceAlarm = true;
    EXPECT_FALSE(readElsewhere()) << "not before it is published";
    host.publishOptions();
    EXPECT_TRUE(readElsewhere());

    // The snapshot counter is the scanner's own, saved with its options.
    host.setPicID(12);
    EXPECT_EQ(options.picID, 12);

    // An alarm brings the viewer's windows forward, then the application the options name.
    options.bEnableActive = true;
    options.activeProgram = "editor";
    host.runAlarmActionsFor(std::weak_ptr<CameraSession>(), nullptr);
    EXPECT_EQ(asked, (std::vector<std::string>{"front", "window of none"}));
    ASSERT_FALSE(workspace->calls.empty());
    EXPECT_EQ(workspace->calls.front(), "activate " + std::to_string(::getpid()));
    EXPECT_TRUE(waitProcessingEvents([&] { return workspace->calls.back() == "activate 42"; }));
}

}  // namespace
}  // namespace vistamo
