// The whole application as a user meets it: the real `vistamo` on the X display, in a network
// namespace of its own, with test cameras in a second one. Needs root (for the namespaces)
// and an X display; skipped otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include "platform/AtomicFile.h"
#include "settings/OptionData.h"
#include "support/CameraProcess.h"
#include "support/NetNamespace.h"
#include "support/PipeWireDaemons.h"
#include "support/Wait.h"
#include "support/qt/FrameNumber.h"

// Xlib last: its macros (None, Status, Bool) clash with names in other headers.
#include <X11/Xlib.h>

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;

// The windows of the application, driven as a person would on the X display of $DISPLAY:
// xdotool finds them by title, clicks and types, ffmpeg takes their picture, and Xlib sends
// the close box's request.
// The window whose id `xdotool arguments...` prints; none when it prints none.
std::optional<unsigned long> xdotoolWindow(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    std::string found;
    unsigned long window = 0;
    if (runCommand(arguments, &found) && std::istringstream(found) >> window) {
        return window;
    }
    return std::nullopt;
}

std::optional<unsigned long> visibleWindow(const std::string& titlePattern) {
    return xdotoolWindow({"search", "--onlyvisible", "--name", titlePattern});
}

// The window that has the keyboard focus.
std::optional<unsigned long> focusedWindow() { return xdotoolWindow({"getwindowfocus"}); }

std::optional<unsigned long> waitForWindow(const std::string& titlePattern) {
    std::optional<unsigned long> window;
    waitUntil([&] { return (window = visibleWindow(titlePattern)).has_value(); }, 15s);
    return window;
}

bool waitForNoWindow(const std::string& titlePattern) {
    return waitUntil([&] { return !visibleWindow(titlePattern); }, 15s);
}

bool click(unsigned long window, int x, int y, int times = 1) {
    return runCommand({"xdotool", "mousemove", "--window", std::to_string(window),
                       std::to_string(x), std::to_string(y), "click", "--repeat",
                       std::to_string(times), "--delay", "60", "1"});
}

// Gives `window` the keyboard focus, then presses each key chord ("ctrl+n", "Return").
bool keys(unsigned long window, const std::vector<std::string>& chords) {
    std::vector<std::string> argv{
        "xdotool", "windowfocus", std::to_string(window), "sleep", "0.2", "key", "--delay", "80"};
    argv.insert(argv.end(), chords.begin(), chords.end());
    return runCommand(argv);
}

bool type(unsigned long window, const std::string& text) {
    return runCommand({"xdotool", "windowfocus", std::to_string(window), "sleep", "0.2", "type",
                       "--delay", "40", text});
}

// A picture of `window`, or of the whole screen without one, saved at `path`.
bool screenshot(std::optional<unsigned long> window, const std::filesystem::path& path) {
    std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error",
                                  "-y",     "-f",           "x11grab"};
    if (window) {
        argv.insert(argv.end(), {"-window_id", std::to_string(*window)});
    } else {
        argv.insert(argv.end(), {"-video_size", "1920x1080"});
    }
    argv.insert(argv.end(), {"-i", std::getenv("DISPLAY"), "-frames:v", "1", path.string()});
    return runCommand(argv);
}

// Moves `window` to (x, y) on the screen; there is no window manager to place it.
bool moveWindow(unsigned long window, int x, int y) {
    return runCommand(
        {"xdotool", "windowmove", std::to_string(window), std::to_string(x), std::to_string(y)});
}

// The frame number a camera window shows now, read back from a grab of the window. The test
// pictures are 4:3 and the windows wider, so the video touches the window's lower edge between
// two grey bands; it is cut out and scaled back to the camera's own size `video`.
std::optional<int> shownFrameNumber(unsigned long window, const std::filesystem::path& scratch,
                                    QSize video) {
    if (!screenshot(window, scratch)) {
        return std::nullopt;
    }
    const QImage grab =
        QImage(QString::fromStdString(scratch.string())).convertToFormat(QImage::Format_RGB32);
    if (grab.isNull()) {
        return std::nullopt;
    }
    const auto band = [&](int x, int y) {
        const QColor colour = grab.pixelColor(x, y);
        return std::abs(colour.red() - 64) <= 4 && std::abs(colour.green() - 64) <= 4 &&
               std::abs(colour.blue() - 64) <= 4;
    };
    int left = grab.width();
    int right = -1;
    for (int y = grab.height() / 2 - 40; y <= grab.height() / 2 + 40; y += 10) {
        int x = 0;
        while (x < grab.width() && band(x, y)) {
            ++x;
        }
        left = std::min(left, x);
        x = grab.width() - 1;
        while (x >= 0 && band(x, y)) {
            --x;
        }
        right = std::max(right, x);
    }
    const int width = right - left + 1;
    const int height = width * video.height() / video.width();
    if (width <= 0 || height > grab.height()) {
        return std::nullopt;
    }
    const int number = frameNumberIn(grab.copy(left, grab.height() - height, width, height), video);
    return number >= 0 ? std::optional<int>(number) : std::nullopt;
}

// Whether the frame number shown by `window` goes up (modulo the 12 bits it carries).
bool frameNumberAdvances(unsigned long window, const std::filesystem::path& scratch, QSize video) {
    std::optional<int> first;
    return waitUntil(
        [&] {
            const auto now = shownFrameNumber(window, scratch, video);
            if (!first) {
                first = now;
                return false;
            }
            return now && *now != *first;
        },
        20s);
}

// What the window's close box does: a WM_DELETE_WINDOW request to its owner.
bool requestClose(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XCloseDisplay(display);  // flushes the request
    return sent;
}

// Where the button of the camera named `name` went, from the application's log line.
std::optional<std::pair<int, int>> buttonPlace(const std::string& line) {
    static const std::regex pattern(R"(its button is at (-?\d+),(-?\d+) in the scanner window)");
    std::smatch match;
    if (!std::regex_search(line, match, pattern)) {
        return std::nullopt;
    }
    return std::pair{std::stoi(match[1]), std::stoi(match[2])};
}

// A point of the camera button centred at `target` that the button centred at `above` (made
// later, so drawn over it) does not cover; buttons are 120 x 60 and placed at random.
std::optional<std::pair<int, int>> uncoveredPoint(std::pair<int, int> target,
                                                  std::pair<int, int> above) {
    for (const auto& [dx, dy] : {std::pair{0, 0}, {-50, -22}, {50, -22}, {-50, 22}, {50, 22}}) {
        const int x = target.first + dx;
        const int y = target.second + dy;
        if (std::abs(x - above.first) > 62 || std::abs(y - above.second) > 32) {
            return std::pair{x, y};
        }
    }
    return std::nullopt;
}

// Whether the application ended well: status 0, or, under AddressSanitizer, a leak report in
// which no block was allocated by our program. System libraries (the D-Bus link, the Mesa
// driver) leak at exit, and the driver is unloaded before the report is made, so its blocks
// show no module that a suppression could name; blocks of ours always show our frames.
bool endedWell(std::optional<int> status, const std::string& transcript) {
    if (status == 0) {
        return true;
    }
    const size_t report = transcript.find("ERROR: LeakSanitizer");
    if (status != 1 || report == std::string::npos) {
        return false;
    }
    std::istringstream lines(transcript.substr(report));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(" #") != std::string::npos && line.find("vistamo") != std::string::npos) {
            return false;
        }
    }
    return true;
}

// The application's line for a camera its scanner found.
std::string found(const std::string& name) { return "camera \"" + name + "\" found"; }

// Whether the test camera says that its session has ended, whichever side ended it.
bool sessionEnded(CameraProcess& camera) {
    return camera
        .waitForLine(
            [](const std::string& line) {
                return line == "disconnect requested conn=1" || line == "closed by peer conn=1";
            },
            20s)
        .has_value();
}

// Where the tests leave their screenshots, in the build tree.
std::filesystem::path screenshotFolder() {
    std::filesystem::create_directories(VISTAMO_SCREENSHOT_DIR);
    return VISTAMO_SCREENSHOT_DIR;
}

constexpr const char* kScannerTitle = "^vistamo$";
constexpr const char* kCameraWindowTitle = "^Video From";

class ApplicationEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root for network namespaces";
        }
        if (!wayland_ && std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display";
        }
        if (wayland_ && (std::getenv("WAYLAND_DISPLAY") == nullptr ||
                         std::getenv("XDG_RUNTIME_DIR") == nullptr)) {
            GTEST_SKIP() << "needs a Wayland compositor (ctest -L wayland starts one)";
        }
        net_ = std::make_unique<NetNamespace>();
        if (!net_->available()) {
            GTEST_SKIP() << "no network namespaces: " << net_->unavailableReason();
        }
        std::string pattern = std::filesystem::temp_directory_path() / "vistamo-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        for (const char* folder : {"home/.config", "home/Pictures", "run", "bin", "data"}) {
            std::filesystem::create_directories(root_ / folder);
        }
        ::chmod((root_ / "run").c_str(), 0700);
        std::ofstream(root_ / "microphone.raw") << std::string(96000, '\0');
        // The program the alarm launches: it leaves a marker file behind.
        const auto marker = root_ / "bin" / "alarm-marker";
        std::ofstream(marker) << "#!/bin/sh\necho launched >> '" << markerPath().string() << "'\n";
        std::filesystem::permissions(marker, std::filesystem::perms::owner_all);
    }

    void TearDown() override {
        apps_.clear();
        helpers_.clear();
        cameras_.clear();
        if (!root_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
        }
    }

    std::filesystem::path configPath() const { return root_ / "home/.config/vistamo+/.config"; }
    std::filesystem::path markerPath() const { return root_ / "launched"; }

    CameraProcess& startCamera(std::vector<std::string> arguments) {
        cameras_.push_back(std::make_unique<CameraProcess>(
            std::move(arguments),
            std::vector<std::string>{"ip", "netns", "exec", net_->host(1).namespaceName}));
        return *cameras_.back();
    }

    // With `verbose`, the debug lines that the first tests follow are shown too. `sessionBus`:
    // the address of the session bus; by default one where nobody listens.
    // `pipewire`: the runtime folder of a PipeWire the application is to use.
    ChildProcess& startApp(bool verbose = true, std::string sessionBus = {},
                           std::filesystem::path pipewire = {}) {
        if (sessionBus.empty()) {
            sessionBus = "unix:path=" + (root_ / "no-bus").string();
        }
        std::vector<std::string> environment{
            "DBUS_SESSION_BUS_ADDRESS=" + sessionBus,
            "HOME=" + (root_ / "home").string(),
            "XDG_CONFIG_HOME=" + (root_ / "home/.config").string(),
            "XDG_RUNTIME_DIR=" + (root_ / "run").string(),
            "XDG_DATA_HOME=" + (root_ / "data").string(),
            "XDG_DATA_DIRS=" + (root_ / "data").string(),
            "PATH=" + (root_ / "bin").string() + ":/usr/local/bin:/usr/bin:/bin",
            "SDL_AUDIODRIVER=disk",
            "SDL_DISKAUDIOFILE=" + (root_ / "played.raw").string(),
            "SDL_DISKAUDIOFILEIN=" + (root_ / "microphone.raw").string(),
            "LIBGL_ALWAYS_SOFTWARE=1"};
        if (!pipewire.empty()) {
            environment.push_back("PIPEWIRE_RUNTIME_DIR=" + pipewire.string());
        }
        if (wayland_) {
            // The compositor's socket lives in the runtime folder of the test, not the app's.
            environment.push_back("QT_QPA_PLATFORM=wayland");
            environment.push_back("WAYLAND_DISPLAY=" +
                                  (std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) /
                                   std::getenv("WAYLAND_DISPLAY"))
                                      .string());
        } else {
            environment.push_back("QT_QPA_PLATFORM=xcb");
            environment.push_back(std::string("DISPLAY=") + std::getenv("DISPLAY"));
        }
        for (const char* inherited : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(inherited)) {
                environment.push_back(std::string(inherited) + "=" + value);
            }
        }
        std::vector<std::string> argv{"ip", "netns", "exec", net_->host(0).namespaceName,
                                      VISTAMO_APP_PATH};
        if (verbose) {
            argv.push_back("--verbose");
        }
        apps_.push_back(std::make_unique<ChildProcess>(
            argv, SpawnOptions{.environment = environment, .errorsToOutput = true}));
        return *apps_.back();
    }

    // Options as the file holds them now; none when there is no file.
    std::optional<AlarmOptions> storedOptions() const {
        const auto bytes = readWholeFile(configPath(), kMaxOptionsFileBytes);
        if (!bytes || bytes->empty()) {
            return std::nullopt;
        }
        AlarmOptions options;
        readOptionRecord(options, *bytes);
        return options;
    }

    void writeOptions(const AlarmOptions& options) {
        std::filesystem::create_directories(configPath().parent_path());
        ASSERT_TRUE(writeFileAtomically(configPath(), setOptionData(options), 0600));
    }

    // A private session bus with the tests' notification service on it; its address.
    std::string startNotificationService() {
        const auto config = root_ / "bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << (root_ / "bus").string()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        const std::string address = "unix:path=" + (root_ / "bus").string();
        helpers_.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"dbus-daemon", "--nofork", "--config-file=" + config.string()},
            SpawnOptions{.environment = {{"PATH=/usr/bin:/bin"}}, .errorsToOutput = true}));
        EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(root_ / "bus"); }, 15s))
            << helpers_.back()->transcript();
        helpers_.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{VISTAMO_NOTIFICATION_SERVICE_PATH},
            SpawnOptions{.environment = {{"DBUS_SESSION_BUS_ADDRESS=" + address}},
                         .errorsToOutput = true}));
        EXPECT_TRUE(helpers_.back()->waitForLine("ready", 20s)) << helpers_.back()->transcript();
        return address;
    }

    // Closing the scanner window ends the application, which saves the options first.
    void closeScannerAndWaitForExit(ChildProcess& app) {
        const auto scanner = waitForWindow(kScannerTitle);
        ASSERT_TRUE(scanner) << app.transcript();
        ASSERT_TRUE(requestClose(*scanner));
        const auto status = app.waitForEnd(20s);
        EXPECT_TRUE(endedWell(status, app.transcript())) << app.transcript();
    }

    // The application runs on the Wayland compositor of $WAYLAND_DISPLAY instead of X11.
    bool wayland_ = false;
    // Made first, so that it goes last: the processes in its namespaces end before it.
    std::unique_ptr<NetNamespace> net_;
    std::filesystem::path root_;
    std::vector<std::unique_ptr<CameraProcess>> cameras_;
    std::vector<std::unique_ptr<ChildProcess>> apps_;
    // The session bus and the notification service, ended after the applications.
    std::vector<std::unique_ptr<ChildProcess>> helpers_;
};

TEST_F(ApplicationEndToEndTest, FoundCameraOpensWithVideoRunsItsAlarmsAndClosesBackToTheScanner) {
    AlarmOptions prepared;
    prepared.bEnableActive = false;
    prepared.bEnableSound = true;
    prepared.bOnceAlarm = true;
    prepared.bEnableRun = true;
    prepared.runProgram = "alarm-marker.app";  // the suffix is dropped to launch
    writeOptions(prepared);

    CameraProcess& kitchen =
        startCamera({"--port", "7341", "--control", "--discovery", "--name", "Kitchen"});
    CameraProcess& porch = startCamera({"--port", "7342", "--control", "--discovery", "--name",
                                        "Porch", "--uuid", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"});
    ChildProcess& app = startApp();

    // The two buttons appear in the order the answers arrive.
    ASSERT_TRUE(waitUntil(
        [&] { return app.findLine(found("Kitchen")) && app.findLine(found("Porch")); }, 20s))
        << app.transcript();
    const auto kitchenLine = app.findLine(found("Kitchen"));
    // Found by the first scan request: the answer to it makes the button.
    const auto requests = kitchen.lines();
    EXPECT_LE(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& line) {
                                return line.starts_with("discovery request from");
                            }),
              1);
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    EXPECT_TRUE(screenshot(*scanner, screenshotFolder() / "scanner-window.png"));

    // The porch camera leaves, and its button with it, so that nothing covers the kitchen's.
    ASSERT_TRUE(porch.sendControl("quit"));
    ASSERT_TRUE(porch.waitForLine("discovery leave"));
    const auto place = buttonPlace(*kitchenLine);
    ASSERT_TRUE(place) << *kitchenLine;
    ASSERT_TRUE(click(*scanner, place->first, place->second));

    ASSERT_TRUE(kitchen.waitForLine("verified conn=1", 20s)) << app.transcript();
    ASSERT_TRUE(kitchen.waitForLine("stream started conn=1"));
    ASSERT_TRUE(app.waitForLine("window did load", 20s));
    const auto cameraWindow = waitForWindow(kCameraWindowTitle);
    ASSERT_TRUE(cameraWindow);
    EXPECT_TRUE(waitForNoWindow(kScannerTitle));

    // First alarm: the chosen program starts and the alarm sound plays.
    ASSERT_TRUE(kitchen.sendControl("alarm"));
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(markerPath()); }, 20s))
        << app.transcript();
    EXPECT_TRUE(app.waitForLine("motion alarm: the alarm sound is playing", 20s))
        << app.transcript();
    // The notice follows the sound's line from the same alarm pass; wait, for the lines are
    // read from the application's output as they come.
    EXPECT_TRUE(app.waitForLine("no session bus for the desktop notice \"Motion: Kitchen\"", 20s))
        << app.transcript();
    // Second alarm of the pair: the camera's motion guard is switched off.
    ASSERT_TRUE(kitchen.sendControl("alarm"));
    EXPECT_TRUE(kitchen.waitForLine("recv CmdStopMonitor", 20s));

    // Closing the camera window ends the session, brings the scanner back and scans at once.
    ASSERT_TRUE(requestClose(*cameraWindow));
    EXPECT_TRUE(sessionEnded(kitchen));
    EXPECT_TRUE(waitForWindow(kScannerTitle));
    EXPECT_TRUE(kitchen.waitForLine("discovery request from", 20s));

    // A second copy ends at once and leaves the first running.
    ChildProcess& second = startApp();
    const auto secondStatus = second.waitForEnd(20s);
    EXPECT_TRUE(endedWell(secondStatus, second.transcript())) << second.transcript();
    EXPECT_TRUE(second.waitForLine("already running", 1s)) << second.transcript();
    EXPECT_TRUE(app.running());

    // Closing the scanner window writes the options anew and ends the application.
    std::filesystem::remove(configPath());
    closeScannerAndWaitForExit(app);
    const auto saved = storedOptions();
    ASSERT_TRUE(saved);
    EXPECT_TRUE(saved->bEnableRun);
    EXPECT_EQ(saved->runProgram, "alarm-marker.app");
    EXPECT_FALSE(saved->bEnableActive);
}

// Camera › Use as Webcam offers the camera window's camera through PipeWire, and the choice is
// kept; closing the window takes the camera away.
TEST_F(ApplicationEndToEndTest, CameraMenuOffersTheCameraAsAWebcam) {
    PipeWireDaemons pipewire;
    CameraProcess& kitchen =
        startCamera({"--port", "7341", "--control", "--discovery", "--name", "Kitchen"});
    ChildProcess& app = startApp(true, {}, pipewire.runtimeFolder());
    ASSERT_TRUE(waitUntil([&] { return app.findLine(found("Kitchen")).has_value(); }, 20s))
        << app.transcript();
    const auto place = buttonPlace(*app.findLine(found("Kitchen")));
    ASSERT_TRUE(place);
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(click(*scanner, place->first, place->second));
    ASSERT_TRUE(kitchen.waitForLine("stream started conn=1", 20s)) << app.transcript();
    const auto cameraWindow = waitForWindow(kCameraWindowTitle);
    ASSERT_TRUE(cameraWindow);
    ASSERT_TRUE(moveWindow(*cameraWindow, 0, 0));

    // The Camera menu open at its webcam item, for the README; then the item is chosen.
    ASSERT_TRUE(keys(*cameraWindow, {"alt+c", "Down", "Down", "Down", "Down", "Down"}));
    EXPECT_TRUE(screenshot(std::nullopt, screenshotFolder() / "webcam-menu.png"));
    ASSERT_TRUE(keys(*cameraWindow, {"Return"}));
    const auto cameraNode = [&]() -> std::optional<std::string> {
        const std::string dump = pipewire.dump();
        const size_t at = dump.find("\"node.description\": \"Kitchen (vistamo)\"");
        return at == std::string::npos ? std::nullopt : std::optional(dump.substr(at));
    };
    ASSERT_TRUE(waitUntil([&] { return cameraNode().has_value(); }, 20s)) << app.transcript();
    EXPECT_TRUE(waitUntil(
        [&] { return pipewire.dump().find("Kitchen microphone (vistamo)") != std::string::npos; }));
    std::ifstream choices(root_ / "home/.config/vistamo+/webcams.conf");
    const std::string chosen((std::istreambuf_iterator<char>(choices)), {});
    EXPECT_EQ(chosen, "webcam = uuid:5A3C0E17B2D94F6880A1C4E7D2B93F05\n");

    ASSERT_TRUE(requestClose(*cameraWindow));
    EXPECT_TRUE(sessionEnded(kitchen));
    EXPECT_TRUE(waitUntil([&] { return !cameraNode(); }, 20s));
    closeScannerAndWaitForExit(app);
}

TEST_F(ApplicationEndToEndTest, TwoCamerasStreamAtOnceInWindowsReachedThroughTheWindowMenu) {
    AlarmOptions prepared;
    prepared.bEnableActive = false;
    prepared.bHit = false;  // no notice after a snapshot
    writeOptions(prepared);
    const QSize kitchenSize(320, 240);
    const QSize porchSize(640, 480);
    CameraProcess& kitchen = startCamera(
        {"--port", "7341", "--control", "--discovery", "--name", "Kitchen", "--size", "320x240"});
    CameraProcess& porch =
        startCamera({"--port", "7342", "--control", "--discovery", "--name", "Porch", "--size",
                     "640x480", "--uuid", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"});
    const std::string bus = startNotificationService();
    ChildProcess& notifications = *helpers_.back();
    ChildProcess& app = startApp(true, bus);
    ASSERT_TRUE(waitUntil(
        [&] { return app.findLine(found("Kitchen")) && app.findLine(found("Porch")); }, 20s))
        << app.transcript();
    // The button made last lies over the other.
    const auto kitchenPlace = buttonPlace(*app.findLine(found("Kitchen")));
    const auto porchPlace = buttonPlace(*app.findLine(found("Porch")));
    ASSERT_TRUE(kitchenPlace && porchPlace);
    const auto said = app.lines();
    const auto lineOf = [&](const char* name) {
        return std::find_if(said.begin(), said.end(), [&](const std::string& line) {
            return line.find(found(name)) != std::string::npos;
        });
    };
    const bool porchOnTop = lineOf("Kitchen") < lineOf("Porch");
    const auto kitchenPoint =
        porchOnTop ? uncoveredPoint(*kitchenPlace, *porchPlace) : kitchenPlace;
    const auto porchPoint = porchOnTop ? porchPlace : uncoveredPoint(*porchPlace, *kitchenPlace);
    if (!kitchenPoint || !porchPoint) {
        GTEST_SKIP() << "the two camera buttons landed on each other";
    }
    const auto scratch = root_ / "grab.png";

    // The first camera opens from its button, as always.
    auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(click(*scanner, kitchenPoint->first, kitchenPoint->second));
    ASSERT_TRUE(kitchen.waitForLine("stream started conn=1", 20s)) << app.transcript();
    const auto kitchenWindow = waitForWindow("^Video From Kitchen$");
    ASSERT_TRUE(kitchenWindow) << app.transcript();
    EXPECT_TRUE(waitForNoWindow(kScannerTitle));
    ASSERT_TRUE(moveWindow(*kitchenWindow, 0, 0));

    // Its Window menu brings the scanner back, and the second camera opens from there.
    ASSERT_TRUE(keys(*kitchenWindow, {"alt+w", "Return"}));
    scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner) << app.transcript();
    // Below the camera windows: nothing covers it.
    ASSERT_TRUE(moveWindow(*scanner, 640, 600));
    ASSERT_TRUE(click(*scanner, porchPoint->first, porchPoint->second));
    ASSERT_TRUE(porch.waitForLine("stream started conn=1", 20s)) << app.transcript();
    const auto porchWindow = waitForWindow("^Video From Porch$");
    ASSERT_TRUE(porchWindow) << app.transcript();
    EXPECT_TRUE(waitForNoWindow(kScannerTitle));
    ASSERT_TRUE(moveWindow(*porchWindow, 960, 0));

    // Both stream at once.
    EXPECT_TRUE(frameNumberAdvances(*kitchenWindow, scratch, kitchenSize));
    EXPECT_TRUE(frameNumberAdvances(*porchWindow, scratch, porchSize));

    // Each Window menu lists both windows, in the order they opened, below Show Scanner.
    ASSERT_TRUE(keys(*kitchenWindow, {"alt+w", "Down", "Down", "Return"}));
    EXPECT_TRUE(waitUntil([&] { return focusedWindow() == porchWindow; }, 15s));
    ASSERT_TRUE(keys(*porchWindow, {"alt+w", "Down", "Return"}));
    EXPECT_TRUE(waitUntil([&] { return focusedWindow() == kitchenWindow; }, 15s));

    // With the scanner shown again, the button of a camera already open raises its window
    // and opens no second session.
    ASSERT_TRUE(keys(*porchWindow, {"ctrl+0"}));
    scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(moveWindow(*scanner, 640, 600));
    ASSERT_TRUE(click(*scanner, kitchenPoint->first, kitchenPoint->second));
    EXPECT_TRUE(waitUntil([&] { return focusedWindow() == kitchenWindow; }, 15s));
    // The scanner beside the two camera windows, for the README.
    EXPECT_TRUE(screenshot(std::nullopt, screenshotFolder() / "several-cameras.png"));

    // An alarm from the porch camera posts a desktop notice; a click on it raises the porch's
    // window.
    ASSERT_TRUE(porch.sendControl("alarm"));
    const auto notice = notifications.waitForLine("notify ", 20s);
    ASSERT_TRUE(notice) << app.transcript();
    EXPECT_NE(notice->find("summary=Motion: Porch"), std::string::npos) << *notice;
    EXPECT_NE(notice->find("icon=file:///"), std::string::npos) << *notice;
    EXPECT_NE(notice->find("vistamo.png"), std::string::npos) << *notice;
    const std::string id = notice->substr(7, notice->find(' ', 7) - 7);
    ASSERT_TRUE(runCommand(
        {"dbus-send", "--bus=" + bus, "--print-reply", "--dest=org.freedesktop.Notifications",
         "/org/freedesktop/Notifications", "vistamo.test.Notifications.Click", "uint32:" + id}));
    EXPECT_TRUE(waitUntil([&] { return focusedWindow() == porchWindow; }, 15s));

    // S saves a snapshot of the camera of the window it is typed in: the porch's size.
    const auto pictures = root_ / "home/Pictures/vistamo+";
    ASSERT_TRUE(keys(*porchWindow, {"s"}));
    std::optional<QSize> saved;
    EXPECT_TRUE(waitUntil([&] {
        if (!std::filesystem::is_directory(pictures)) {
            return false;
        }
        for (const auto& entry : std::filesystem::directory_iterator(pictures)) {
            const QImage picture(QString::fromStdString(entry.path().string()));
            if (!picture.isNull()) {
                saved = picture.size();
                return true;
            }
        }
        return false;
    })) << app.transcript();
    EXPECT_EQ(saved, porchSize);

    const auto kitchenLines = kitchen.lines();
    EXPECT_TRUE(std::none_of(kitchenLines.begin(), kitchenLines.end(), [](const auto& line) {
        return line.find("conn=2") != std::string::npos;
    }));

    // Closing one window leaves the other streaming.
    ASSERT_TRUE(requestClose(*kitchenWindow));
    EXPECT_TRUE(sessionEnded(kitchen));
    EXPECT_TRUE(frameNumberAdvances(*porchWindow, scratch, porchSize));
    EXPECT_TRUE(visibleWindow("^Video From Porch$"));
    // The closed window's place is kept in a file of its own, for its camera's next window.
    const auto places = readWholeFile(root_ / "home/.config/vistamo+/windows", 1 << 16);
    ASSERT_TRUE(places);
    EXPECT_NE(textOf(*places).find(" 0 0 960 600\n"), std::string::npos) << textOf(*places);

    closeScannerAndWaitForExit(app);
}

// Without --verbose the application says nothing while all goes well: the dialogs, a camera
// streaming video and sound.
TEST_F(ApplicationEndToEndTest, DialogOptionsSurviveARestartAndTheAddCameraDialogConnects) {
    CameraProcess& camera = startCamera({"--port", "7341", "--control", "--no-discovery"});

    {
        ChildProcess& app = startApp(false);
        const auto scanner = waitForWindow(kScannerTitle);
        ASSERT_TRUE(scanner) << app.transcript();
        ASSERT_TRUE(keys(*scanner, {"ctrl+comma"}));
        const auto dialog = waitForWindow("^Options$");
        ASSERT_TRUE(dialog) << app.transcript();
        // Focus starts on the first check box; the program field to start is the sixth
        // control, its check box the fifth.
        ASSERT_TRUE(keys(*dialog, {"Tab", "Tab", "Tab", "Tab", "Tab"}));
        ASSERT_TRUE(type(*dialog, "marker-program"));
        ASSERT_TRUE(keys(*dialog, {"shift+Tab", "space", "Return"}));
        ASSERT_TRUE(waitForNoWindow("^Options$"));
        ASSERT_TRUE(waitUntil([&] {
            const auto stored = storedOptions();
            return stored && stored->runProgram == "marker-program";
        }));
        EXPECT_TRUE(storedOptions()->bEnableRun);
        closeScannerAndWaitForExit(app);
    }

    ChildProcess& app = startApp(false);
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner) << app.transcript();

    ASSERT_TRUE(keys(*scanner, {"ctrl+n"}));
    const auto dialog = waitForWindow("^Add Camera$");
    ASSERT_TRUE(dialog) << app.transcript();
    ASSERT_TRUE(keys(*dialog, {"ctrl+a", "BackSpace"}));
    ASSERT_TRUE(type(*dialog, net_->host(1).ipv4));
    ASSERT_TRUE(keys(*dialog, {"Return"}));
    EXPECT_TRUE(camera.waitForLine("connected from " + net_->host(0).ipv4, 20s))
        << app.transcript();
    EXPECT_TRUE(camera.waitForLine("verified conn=1", 20s));
    EXPECT_TRUE(camera.waitForLine("stream started conn=1", 20s));
    const auto cameraWindow = waitForWindow(kCameraWindowTitle);
    ASSERT_TRUE(cameraWindow);
    // A second of the camera's sound has gone to the audio device.
    EXPECT_TRUE(waitUntil(
        [&] {
            std::error_code error;
            return std::filesystem::file_size(root_ / "played.raw", error) >= 96000 && !error;
        },
        30s));
    // Only SDL's disk driver, which stands in for a sound card here, speaks: it warns that it
    // writes and reads files and has no default device to tell.
    std::istringstream said(app.transcript());
    for (std::string line; std::getline(said, line);) {
        EXPECT_TRUE(line == "CRITICAL: You are using the SDL disk i/o audio driver!" ||
                    line.starts_with("CRITICAL:  Writing to file [") ||
                    line.starts_with("CRITICAL:  Reading from file [") ||
                    line == "vistamo: Unable to get default audio device")
            << line;
    }
    ASSERT_TRUE(requestClose(*cameraWindow));
    ASSERT_TRUE(waitForWindow(kScannerTitle));

    // The options read at this start are the ones written on closing.
    closeScannerAndWaitForExit(app);
    const auto saved = storedOptions();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->runProgram, "marker-program");
    EXPECT_TRUE(saved->bEnableRun);
}

// Run by `ctest -L wayland` on a headless weston: the application starts on Qt's Wayland
// platform, its scanner finds a camera, and the compositor's screenshot shows the window.
class ApplicationOnWaylandTest : public ApplicationEndToEndTest {
protected:
    ApplicationOnWaylandTest() { wayland_ = true; }
};

TEST_F(ApplicationOnWaylandTest, ScannerWindowFindsACamera) {
    startCamera({"--port", "7341", "--control", "--discovery", "--name", "Kitchen"});
    ChildProcess& app = startApp();
    ASSERT_TRUE(app.waitForLine(found("Kitchen"), 20s)) << app.transcript();
    EXPECT_FALSE(app.findLine("xcb")) << app.transcript();

    const std::filesystem::path shots = root_ / "shots";
    std::filesystem::create_directories(shots);
    ASSERT_TRUE(runCommand({"env", "XDG_PICTURES_DIR=" + shots.string(), "weston-screenshooter"}));
    std::vector<std::filesystem::path> taken(std::filesystem::directory_iterator(shots), {});
    ASSERT_EQ(taken.size(), 1u);
    std::filesystem::copy_file(taken.front(), screenshotFolder() / "wayland-scanner-window.png",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_GT(std::filesystem::file_size(taken.front()), 10000u);
    EXPECT_TRUE(app.running()) << app.transcript();
}

// Where the camera grid last said it shows the picture of the camera named `name`, in the
// grid window's points.
std::optional<QRect> gridTilePlace(const ChildProcess& app, const std::string& name) {
    const std::regex pattern("grid tile \"" + name +
                             R"(" shows its picture at (\d+),(\d+) (\d+)x(\d+) in its window)");
    std::optional<QRect> place;
    for (const std::string& line : app.lines()) {
        std::smatch match;
        if (std::regex_search(line, match, pattern)) {
            place = QRect(std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]),
                          std::stoi(match[4]));
        }
    }
    return place;
}

// The frame number the grid's tile at `place` shows now, read back at the camera's `video` size.
std::optional<int> tileFrameNumber(unsigned long grid, const std::filesystem::path& scratch,
                                   QRect place, QSize video) {
    if (!screenshot(grid, scratch)) {
        return std::nullopt;
    }
    const QImage grab = QImage(QString::fromStdString(scratch.string()));
    if (grab.isNull() || !grab.rect().contains(place)) {
        return std::nullopt;
    }
    const int number = frameNumberIn(grab.copy(place), video);
    return number >= 0 ? std::optional<int>(number) : std::nullopt;
}

// The mean brightness (0 to 255) of the grid's tile at `place`, from a grab.
std::optional<double> tileBrightness(unsigned long grid, const std::filesystem::path& scratch,
                                     QRect place) {
    if (!screenshot(grid, scratch)) {
        return std::nullopt;
    }
    const QImage grab = QImage(QString::fromStdString(scratch.string()))
                            .copy(place)
                            .convertToFormat(QImage::Format_Grayscale8);
    if (grab.isNull() || grab.width() == 0) {
        return std::nullopt;
    }
    double sum = 0;
    for (int y = 0; y < grab.height(); ++y) {
        for (int x = 0; x < grab.width(); ++x) {
            sum += grab.constScanLine(y)[x];
        }
    }
    return sum / (grab.width() * grab.height());
}

constexpr const char* kGridTitle = "^Camera Grid$";

TEST_F(ApplicationEndToEndTest, CameraGridShowsEveryCameraOnItsOneConnectionAndReopensAsItWas) {
    AlarmOptions quiet;
    quiet.bEnableActive = false;  // an alarm leaves the windows where they are
    writeOptions(quiet);
    const QSize kitchenSize(320, 240);
    const QSize porchSize(320, 180);
    CameraProcess& kitchen = startCamera(
        {"--port", "7341", "--control", "--discovery", "--name", "Kitchen", "--size", "320x240"});
    CameraProcess& porch =
        startCamera({"--port", "7342", "--control", "--discovery", "--name", "Porch", "--size",
                     "320x180", "--uuid", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"});
    ChildProcess& app = startApp();
    ASSERT_TRUE(waitUntil(
        [&] { return app.findLine(found("Kitchen")) && app.findLine(found("Porch")); }, 20s))
        << app.transcript();
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(keys(*scanner, {"ctrl+g"}));
    const auto grid = waitForWindow(kGridTitle);
    ASSERT_TRUE(grid) << app.transcript();
    ASSERT_TRUE(moveWindow(*grid, 0, 0));
    ASSERT_TRUE(moveWindow(*scanner, 1000, 620));
    ASSERT_TRUE(kitchen.waitForLine("stream started conn=1", 20s)) << app.transcript();
    ASSERT_TRUE(porch.waitForLine("stream started conn=1", 20s)) << app.transcript();

    // Each tile has its own camera's shape, and its own camera's numbers go up in it.
    const auto scratch = root_ / "grab.png";
    const auto tileAdvances = [&](const std::string& name, QSize size) {
        std::optional<int> first;
        return waitUntil(
            [&] {
                const auto place = gridTilePlace(app, name);
                const auto now =
                    place ? tileFrameNumber(*grid, scratch, *place, size) : std::nullopt;
                if (!first) {
                    first = now;
                    return false;
                }
                return now && *now != *first;
            },
            20s);
    };
    std::map<std::string, int> widths;
    for (const auto& [name, size] : {std::pair{"Kitchen", kitchenSize}, {"Porch", porchSize}}) {
        std::optional<QRect> place;
        ASSERT_TRUE(waitUntil([&] { return (place = gridTilePlace(app, name)).has_value(); }, 20s))
            << app.transcript();
        widths[name] = place->width();
        EXPECT_NEAR(place->width() * 1.0 / place->height(), size.width() * 1.0 / size.height(),
                    0.03)
            << name;
        EXPECT_TRUE(tileAdvances(name, size)) << name;
    }

    // A double-click opens the camera's window on the tile's own connection; closing that
    // window leaves the tile streaming.
    const QRect kitchenTile = *gridTilePlace(app, "Kitchen");
    ASSERT_TRUE(click(*grid, kitchenTile.center().x(), kitchenTile.center().y(), 2));
    const auto kitchenWindow = waitForWindow("^Video From Kitchen$");
    ASSERT_TRUE(kitchenWindow) << app.transcript();
    ASSERT_TRUE(moveWindow(*kitchenWindow, 0, 0));
    EXPECT_TRUE(frameNumberAdvances(*kitchenWindow, scratch, kitchenSize));
    ASSERT_TRUE(requestClose(*kitchenWindow));
    EXPECT_TRUE(waitForNoWindow("^Video From Kitchen$"));
    ASSERT_TRUE(moveWindow(*grid, 0, 0));
    EXPECT_TRUE(tileAdvances("Kitchen", kitchenSize));
    EXPECT_FALSE(kitchen.findLine("conn=2")) << app.transcript();
    EXPECT_FALSE(kitchen.findLine("disconnect requested conn=1"));

    // A motion alarm frames its camera's tile in orange for a moment.
    ASSERT_TRUE(kitchen.sendControl("alarm"));
    EXPECT_TRUE(waitUntil(
        [&] {
            if (!screenshot(*grid, scratch)) {
                return false;
            }
            const QColor edge = QImage(QString::fromStdString(scratch.string()))
                                    .pixelColor(kitchenTile.topLeft() + QPoint(3, 40));
            return edge.red() > 200 && edge.green() > 120 && edge.blue() < 60;
        },
        20s))
        << app.transcript();

    // A camera killed dims its own tile only, and the tile streams again when it comes back.
    const double porchBright = tileBrightness(*grid, scratch, *gridTilePlace(app, "Porch")).value();
    porch.kill();
    ASSERT_TRUE(app.waitForLine("the connection to Porch dropped", 20s)) << app.transcript();
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto now = tileBrightness(*grid, scratch, *gridTilePlace(app, "Porch"));
            return now && *now < porchBright * 0.7;
        },
        20s));
    EXPECT_TRUE(tileAdvances("Kitchen", kitchenSize));
    CameraProcess& porchBack =
        startCamera({"--port", "7343", "--control", "--discovery", "--name", "Porch", "--size",
                     "320x180", "--uuid", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"});
    ASSERT_TRUE(porchBack.waitForLine("stream started conn=1", 60s)) << app.transcript();
    EXPECT_TRUE(app.waitForLine("connected again to Porch", 20s)) << app.transcript();
    EXPECT_TRUE(tileAdvances("Porch", porchSize));
    EXPECT_TRUE(screenshot(*grid, screenshotFolder() / "camera-grid.png"));

    // View › 1 × 1, then closing the grid lets both cameras go.
    ASSERT_TRUE(keys(*grid, {"alt+v", "Down", "Return"}));
    ASSERT_TRUE(requestClose(*grid));
    EXPECT_TRUE(sessionEnded(kitchen));
    EXPECT_TRUE(sessionEnded(porchBack));
    closeScannerAndWaitForExit(app);

    // The next run opens the grid as it was: one tile, in the room the two had side by side.
    ChildProcess& again = startApp();
    ASSERT_TRUE(waitUntil(
        [&] { return again.findLine(found("Kitchen")) && again.findLine(found("Porch")); }, 20s))
        << again.transcript();
    const auto scannerAgain = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scannerAgain);
    ASSERT_TRUE(keys(*scannerAgain, {"ctrl+g"}));
    ASSERT_TRUE(waitForWindow(kGridTitle)) << again.transcript();
    ASSERT_TRUE(kitchen.waitForLine("stream started conn=2", 20s)) << again.transcript();
    ASSERT_TRUE(porchBack.waitForLine("stream started conn=2", 20s)) << again.transcript();
    ASSERT_TRUE(waitUntil(
        [&] { return gridTilePlace(again, "Kitchen") || gridTilePlace(again, "Porch"); }, 20s));
    const std::string shownName = gridTilePlace(again, "Kitchen") ? "Kitchen" : "Porch";
    EXPECT_FALSE(gridTilePlace(again, shownName == "Kitchen" ? "Porch" : "Kitchen"));
    EXPECT_GT(gridTilePlace(again, shownName)->width(), widths[shownName] * 3 / 2)
        << again.transcript();
    closeScannerAndWaitForExit(again);
}

TEST_F(ApplicationEndToEndTest, GridTileOfACameraWithAPasswordAsksForItOnADoubleClick) {
    CameraProcess& attic = startCamera({"--port", "7344", "--control", "--discovery", "--name",
                                        "Attic", "--size", "320x240", "--password", "loft"});
    ChildProcess& app = startApp();
    ASSERT_TRUE(app.waitForLine(found("Attic"), 20s)) << app.transcript();
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(keys(*scanner, {"ctrl+g"}));
    const auto grid = waitForWindow(kGridTitle);
    ASSERT_TRUE(grid) << app.transcript();
    ASSERT_TRUE(moveWindow(*grid, 0, 0));
    ASSERT_TRUE(moveWindow(*scanner, 1000, 620));

    // No dialog of its own: the tile waits, and its camera is not asked again meanwhile.
    ASSERT_TRUE(app.waitForLine("asks for a password", 20s)) << app.transcript();
    EXPECT_FALSE(visibleWindow("^Wrong Password$"));
    ASSERT_TRUE(click(*grid, 240, 300, 2));
    const auto dialog = waitForWindow("^Wrong Password$");
    ASSERT_TRUE(dialog) << app.transcript();
    EXPECT_FALSE(attic.findLine("conn=2"));
    ASSERT_TRUE(type(*dialog, "loft"));
    ASSERT_TRUE(keys(*dialog, {"Return"}));
    ASSERT_TRUE(attic.waitForLine("stream started conn=2", 20s)) << app.transcript();
    std::optional<QRect> place;
    ASSERT_TRUE(waitUntil([&] { return (place = gridTilePlace(app, "Attic")).has_value(); }, 20s));
    std::optional<int> first;
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto now = tileFrameNumber(*grid, root_ / "grab.png", *place, QSize(320, 240));
            if (!first) {
                first = now;
                return false;
            }
            return now && *now != *first;
        },
        20s));
    closeScannerAndWaitForExit(app);
}

// A camera killed (it cannot say goodbye) comes back on another port with the same identity:
// discovery finds it again, and its window, which stayed open, streams again.
class ApplicationReconnectTest : public ApplicationEndToEndTest {};

TEST_F(ApplicationReconnectTest, KilledCameraBackOnAnotherPortStreamsAgainInTheSameWindow) {
    const auto porchOn = [](const char* port) {
        return std::vector<std::string>{
            "--port", port,     "--control", "--discovery", "--name",
            "Porch",  "--size", "320x240",   "--uuid",      "0A1B2C3D4E5F60718293A4B5C6D7E8F9"};
    };
    CameraProcess& first = startCamera(porchOn("7342"));
    ChildProcess& app = startApp();
    ASSERT_TRUE(app.waitForLine(found("Porch"), 20s)) << app.transcript();
    const auto place = buttonPlace(*app.findLine(found("Porch")));
    ASSERT_TRUE(place);
    const auto scanner = waitForWindow(kScannerTitle);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(click(*scanner, place->first, place->second));
    ASSERT_TRUE(first.waitForLine("stream started conn=1", 20s)) << app.transcript();
    const auto window = waitForWindow("^Video From Porch$");
    ASSERT_TRUE(window) << app.transcript();
    const auto scratch = root_ / "grab.png";
    EXPECT_TRUE(frameNumberAdvances(*window, scratch, QSize(320, 240)));

    first.kill();
    CameraProcess& second = startCamera(porchOn("7343"));
    ASSERT_TRUE(second.waitForLine("stream started conn=1", 60s)) << app.transcript();
    EXPECT_TRUE(app.waitForLine("connected again to Porch", 20s)) << app.transcript();
    EXPECT_EQ(waitForWindow("^Video From Porch$"), window);
    EXPECT_TRUE(frameNumberAdvances(*window, scratch, QSize(320, 240)));
    EXPECT_FALSE(app.findLine("window will close")) << app.transcript();
}

}  // namespace
}  // namespace vistamo::test
