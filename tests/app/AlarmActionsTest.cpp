#include "app/AlarmActions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AlarmDoubles.h"
#include "support/qt/QtWait.h"

namespace vistamo {
namespace {

using test::waitProcessingEvents;

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
        return context;
    }

    std::shared_ptr<test::RecordingWorkspace> workspace_ =
        std::make_shared<test::RecordingWorkspace>();
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

    runAlarmPass(context());
    EXPECT_EQ(optionReads_, 4) << "the options are read afresh for each application";
    // The activation of the matched application follows a moment later, on the main queue.
    EXPECT_EQ(workspace_->calls,
              (std::vector<std::string>{"launch Recorder", "force 11", "terminate 11", "front",
                                        "viewer", "force 13", "terminate 13"}));
    ASSERT_TRUE(waitProcessingEvents([&] { return workspace_->calls.size() == 8; }));
    EXPECT_EQ(workspace_->calls.back(), "activate 12");

    // Switched off, matching applications are left alone; the launch happens with no
    // application running too.
    workspace_->calls.clear();
    options_.bEnableTerminate = false;
    options_.bEnableActive = false;
    runAlarmPass(context());
    EXPECT_EQ(workspace_->calls, (std::vector<std::string>{"launch Recorder"}));
    workspace_->running.clear();
    runAlarmPass(context());
    EXPECT_EQ(workspace_->calls.size(), 2u);

    // Everything off: nothing at all, not even later.
    options_.bEnableRun = false;
    workspace_->running = {{12, "Mail", 1}};
    runAlarmPass(context());
    EXPECT_FALSE(waitProcessingEvents([&] { return workspace_->calls.size() > 2; },
                                      std::chrono::milliseconds(50)));
}

TEST_F(AlarmActionsTest, DelayedTerminationEndsTheApplicationLater) {
    const RunningApplication app{21, "Mail", 5};
    forceTerminateApplication(workspace_, app);
    EXPECT_TRUE(workspace_->calls.empty());
    ASSERT_TRUE(waitProcessingEvents([&] { return workspace_->calls.size() == 2; }));
    EXPECT_EQ(workspace_->calls, (std::vector<std::string>{"force 21", "terminate 21"}));
}

}  // namespace
}  // namespace vistamo
