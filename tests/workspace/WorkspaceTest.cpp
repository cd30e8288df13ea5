#include "workspace/LinuxWorkspace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "support/Spawn.h"
#include "support/TempHome.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;
using test::waitUntil;

// A longer name than the kernel keeps for a process.
constexpr const char* kProbeName = "vistamo-workspace-probe";

class WorkspaceTest : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        bin_ = home_ / "bin";
        fs::create_directories(bin_);
        setVariable("PATH", bin_.string());
        setVariable("XDG_DATA_HOME", (home_ / "data").string());
        setVariable("XDG_DATA_DIRS", (home_ / "system-data").string());
        // Activation goes through X11 unless a test says it runs on Wayland.
        setVariable("WAYLAND_DISPLAY", std::nullopt);
        setVariable("XDG_SESSION_TYPE", std::nullopt);
    }
    void TearDown() override {
        for (const pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            test::reapProcess(pid, std::chrono::hours(1));
        }
        TempHomeTest::TearDown();
    }

    // A sleeping child run from a copy of sleep called kProbeName.
    pid_t startProbe() {
        const std::string path = (bin_ / kProbeName).string();
        if (!fs::exists(path)) {
            fs::copy_file("/bin/sleep", path);
        }
        const pid_t pid = test::spawnProcess({path, "60"});
        EXPECT_GT(pid, 0);
        children_.push_back(pid);
        return pid;
    }

    std::optional<RunningApplication> find(pid_t pid) {
        for (const auto& app : workspace_.runningApplications()) {
            if (app.processIdentifier == pid) {
                return app;
            }
        }
        return std::nullopt;
    }

    // How child `pid` ended: its exit code, or 128 + the signal that ended it.
    int endingStatus(pid_t pid) {
        std::erase(children_, pid);
        return test::reapProcess(pid, std::chrono::hours(1)).value_or(-1);
    }

    // A shell script that writes its arguments, one per line, to `marker`.
    void writeMarkerScript(const fs::path& script, const fs::path& marker) {
        const std::string part = marker.string() + ".part";
        writeText(script, "#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\n' \"$@\" > '" + part +
                              "'\nmv '" + part + "' '" + marker.string() + "'\n");
        fs::permissions(script, fs::perms::owner_all);
    }

    LinuxWorkspace workspace_;
    fs::path bin_;
    std::vector<pid_t> children_;
};

TEST_F(WorkspaceTest, ListsOwnProcessesByFullNameAndEndsThem) {
    const pid_t first = startProbe();
    const pid_t second = startProbe();
    const auto app = find(first);
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->localizedName, kProbeName) << "the executable's name, not the cut one";
    EXPECT_NE(app->startTime, 0u);
    const auto self = find(::getpid());
    ASSERT_TRUE(self.has_value());
    EXPECT_FALSE(find(1).has_value() && ::getuid() != 0) << "other users' processes are left out";

    // A listing that no longer names the process (another start time) is not signalled.
    RunningApplication stale = *app;
    stale.startTime += 1;
    EXPECT_FALSE(workspace_.terminate(stale));
    RunningApplication nobody{0, "everyone", 0};
    EXPECT_FALSE(workspace_.forceTerminate(nobody));
    EXPECT_TRUE(find(first).has_value());

    EXPECT_TRUE(workspace_.terminate(*app));
    EXPECT_EQ(endingStatus(first), 128 + SIGTERM);
    ASSERT_TRUE(find(second).has_value());
    EXPECT_TRUE(workspace_.forceTerminate(*find(second)));
    EXPECT_EQ(endingStatus(second), 128 + SIGKILL);
}

TEST_F(WorkspaceTest, LaunchesFromPathAndPrefersADesktopEntry) {
    const fs::path marker = home_ / "started";
    writeMarkerScript(bin_ / "recorder", marker);
    ASSERT_TRUE(workspace_.launchApplication("recorder"));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(marker); }));
    EXPECT_EQ(readText(marker), "\n");
    fs::remove(marker);

    // An entry in the user's data folder wins over PATH and over the system's folders; its Exec
    // line is split without a shell and loses its field codes.
    const fs::path other = home_ / "tools" / "other script";
    fs::create_directories(other.parent_path());
    writeMarkerScript(other, marker);
    writeText(home_ / "system-data/applications/recorder.desktop",
              "[Desktop Entry]\nType=Application\nExec=/bin/false\n");
    writeText(home_ / "data/applications/recorder.desktop",
              "[Desktop Entry]\nName=Recorder\nExec=\"" + other.string() +
                  "\" --flag \"two words\" 100%% $(x) %U\n[Other Group]\nExec=/bin/false\n");
    ASSERT_TRUE(workspace_.launchApplication("recorder"));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(marker); }));
    EXPECT_EQ(readText(marker), "--flag\ntwo words\n100%\n$(x)\n");

    EXPECT_FALSE(workspace_.launchApplication("no-such-program"));
}

TEST_F(WorkspaceTest, RefusesNamesThatAreNotPlainAndRunsNoShell) {
    // Relative to the folder the viewer runs in, which a shell would write into.
    const fs::path saved = fs::current_path();
    fs::current_path(home_);
    writeMarkerScript(bin_ / "recorder", home_ / "started");
    const std::vector<std::string> names = {"",
                                            ".",
                                            "..",
                                            "../bin/recorder",
                                            bin_.string() + "/recorder",
                                            "recorder;touch victim",
                                            "$(touch victim)",
                                            "`touch victim`",
                                            "recorder && touch victim",
                                            "recorder\ntouch victim",
                                            std::string("recorder\0x", 10)};
    for (const auto& name : names) {
        EXPECT_FALSE(workspace_.launchApplication(name)) << name;
    }
    // Give anything wrongly started time to show.
    ::usleep(200'000);
    fs::current_path(saved);
    EXPECT_FALSE(fs::exists(home_ / "victim"));
    EXPECT_FALSE(fs::exists(home_ / "started"));
}

// Field codes and plain words are split in LaunchesFromPathAndPrefersADesktopEntry.
TEST(ExecLineTest, QuotingRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(LinuxWorkspace::splitExecLine(R"("a b" "c\"d" "e\\f" "\$g")"),
              (V{"a b", "c\"d", "e\\f", "$g"}));
    EXPECT_FALSE(LinuxWorkspace::splitExecLine("\"unterminated"));
    EXPECT_FALSE(LinuxWorkspace::splitExecLine("\"%f\""));
    EXPECT_FALSE(LinuxWorkspace::splitExecLine("%U"));
    EXPECT_FALSE(LinuxWorkspace::splitExecLine("app %"));
}

// Activation asks the window manager, through the root window, to raise each window of the
// process. The test plays the window manager: it takes substructure redirection on the root.
TEST_F(WorkspaceTest, ActivateSendsTheRequestForEachWindowOfTheProcess) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        GTEST_SKIP() << "needs an X display";
    }
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> x(xcb_connect(nullptr, nullptr),
                                                                     xcb_disconnect);
    ASSERT_EQ(xcb_connection_has_error(x.get()), 0);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data;
    auto atom = [&](const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, void (*)(void*)> reply(
            xcb_intern_atom_reply(
                x.get(),
                xcb_intern_atom(x.get(), 0, static_cast<uint16_t>(std::strlen(name)), name),
                nullptr),
            std::free);
        return reply->atom;
    };
    const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    std::unique_ptr<xcb_generic_error_t, void (*)(void*)> refused(
        xcb_request_check(x.get(), xcb_change_window_attributes_checked(
                                       x.get(), screen->root, XCB_CW_EVENT_MASK, &redirect)),
        std::free);
    if (refused) {
        GTEST_SKIP() << "a window manager runs on this display";
    }

    const pid_t pid = startProbe();
    const xcb_window_t window = xcb_generate_id(x.get());
    xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const auto wmPid = static_cast<uint32_t>(pid);
    xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &wmPid);
    // A round trip: the server has made the window before the workspace looks for it.
    std::free(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));

    const auto app = find(pid);
    ASSERT_TRUE(app.has_value());
    EXPECT_TRUE(workspace_.activate(*app));
    RunningApplication other = *app;
    other.processIdentifier = ::getpid();
    EXPECT_FALSE(workspace_.activate(other)) << "no window of ours is on the display";

    const xcb_atom_t active = atom("_NET_ACTIVE_WINDOW");
    bool received = false;
    ASSERT_TRUE(waitUntil([&] {
        while (std::unique_ptr<xcb_generic_event_t, void (*)(void*)> event{
            xcb_poll_for_event(x.get()), std::free}) {
            if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) {
                continue;
            }
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
            EXPECT_EQ(message->type, active);
            EXPECT_EQ(message->window, window);
            EXPECT_EQ(message->data.data32[0], 2u);
            received = true;
        }
        return received;
    }));
    xcb_destroy_window(x.get(), window);
    xcb_flush(x.get());
}

// A Wayland session lets no client raise another's windows: nothing is sent, and one line says
// why, however often an alarm asks.
TEST_F(WorkspaceTest, ActivationOnWaylandIsSkippedWithOneLine) {
    const auto app = find(startProbe());
    ASSERT_TRUE(app.has_value());
    setVariable("WAYLAND_DISPLAY", "wayland-0");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(workspace_.activate(*app));
    EXPECT_FALSE(workspace_.activate(*app));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("on Wayland"), std::string::npos) << said;
}

}  // namespace
}  // namespace vistamo
