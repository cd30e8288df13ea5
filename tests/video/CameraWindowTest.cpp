// Camera windows end to end: a test camera streams over loopback into a real window under X,
// clicks on the drawn bar become the camera's commands, and windows close in order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QToolTip>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>

#include "discovery/CameraRecord.h"
#include "media/AudioSignals.h"
#include "media/ClipFileName.h"
#include "media/SessionAudioCodec.h"
#include "recording/ClipProbe.h"
#include "session/CameraSession.h"
#include "settings/ClipSettings.h"
#include "support/CameraProcess.h"
#include "support/DiskSound.h"
#include "support/FaultRelay.h"
#include "support/LoopbackSession.h"
#include "support/PipeWireDaemons.h"
#include "support/RtspReceiver.h"
#include "support/TestStream.h"
#include "support/qt/FrameNumber.h"
#include "support/qt/QtWait.h"
#include "video/CameraViewController.h"
#include "video/CameraWindow.h"
#include "video/ControlBar.h"
#include "video/PublishDialog.h"
#include "video/SessionPartsFactory.h"
#include "video/TestVideoScanner.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"
#include "webcam/CameraWebcam.h"

namespace vistamo::test {
namespace {

namespace fs = std::filesystem;

constexpr auto kPatience = std::chrono::seconds(30);

// The camera's sound as the session plays it: only the playback gate is of interest here.
class GateWatchingCodec final : public SessionAudioCodec {
public:
    void setDelegate(std::weak_ptr<OpusPacketSink> /*delegate*/) override {}
    void startPlay() override {
        ++starts;
        playing = true;
    }
    void stopPlay() override {
        ++stops;
        playing = false;
    }
    void decodeOpusData(ByteView /*packet*/) override {}

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<bool> playing{false};
};

// What a dialog showed, as the test runner saw it.
struct SeenDialog {
    DialogModality modality = DialogModality::application;
    QString text;
    QString informative;
    std::vector<QString> buttons;
};

void clickButton(QMessageBox& box, const QString& text) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    box.reject();
}

// Camera windows fed by real test cameras over loopback, opened as the scanner opens them, in
// a temporary home (snapshots land in its Pictures folder) with SDL's disk audio driver (the
// microphone reads a file). Dialogs go to `answer` instead of the screen.
class CameraWindowTest : public DiskSoundTest {
protected:
    struct Camera {
        std::unique_ptr<CameraProcess> process;
        std::shared_ptr<CameraRecord> device;
        std::weak_ptr<CameraWindow> window;
        std::weak_ptr<CameraSession> session;
        std::shared_ptr<GateWatchingCodec> codec;
    };

    void SetUp() override {
        DiskSoundTest::SetUp();
        // Twenty seconds of a 660 Hz tone for the microphone.
        setMicrophone(tone(660, 20 * 48000, 12000));
        answer = [](QDialog& dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                clickButton(*box, "OK");
            } else {
                dialog.reject();
            }
        };
    }

    void TearDown() override {
        // Windows still open close as their close box closes them.
        for (const auto& camera : cameras) {
            if (auto window = camera->window.lock()) {
                static_cast<QWidget*>(window.get())->close();
            }
        }
        for (const auto& camera : cameras) {
            EXPECT_TRUE(waitForReleased(*camera));
            if (HasFailure()) {
                camera->process->printLines("CmdVideoFrame|CmdOpusAudio|CmdStream");
            }
        }
        cameras.clear();
        DiskSoundTest::TearDown();
    }

    DialogRunner runner() {
        return [this](QDialog& dialog, DialogModality modality) {
            SeenDialog seen;
            seen.modality = modality;
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                seen.text = box->text();
                seen.informative = box->informativeText();
                for (QAbstractButton* button : box->buttons()) {
                    seen.buttons.push_back(button->text());
                }
            }
            dialogs.push_back(seen);
            answer(dialog);
        };
    }

    // Starts a camera with `options` (after "--port 0 --control --name Porch --fps 10") and
    // makes its record.
    std::unique_ptr<Camera> start(std::vector<std::string> options) {
        auto camera = std::make_unique<Camera>();
        // Ten pictures a second keep software OpenGL under Xvfb well ahead of the stream; a later
        // "--fps" wins.
        options.insert(options.begin(),
                       {"--port", "0", "--control", "--name", "Porch", "--fps", "10"});
        camera->process = std::make_unique<CameraProcess>(options);
        camera->codec = std::make_shared<GateWatchingCodec>();
        camera->device = loopbackCamera(camera->process->port(), "Porch");
        return camera;
    }
    // A session for `camera`, not yet connected.
    std::shared_ptr<CameraSession> makeSession(Camera& camera) {
        SessionParts parts = makeSessionParts(runner());
        parts.makeCodec = [codec = camera.codec] { return codec; };
        auto session = makeLoopbackSession(std::move(parts), scanner);
        camera.session = session;
        return session;
    }

    // Starts a camera as `start` does and opens its window with a view of `viewSize` points.
    Camera& open(std::vector<std::string> options, QSize viewSize = QSize(800, 600)) {
        return show(start(std::move(options)), viewSize);
    }
    // Opens the window of a started camera.
    Camera& show(std::unique_ptr<Camera> camera, QSize viewSize = QSize(800, 600)) {
        auto session = makeSession(*camera);

        // As the scanner opens a camera from its button.
        camera->device->setBOccupied(true);
        auto window = CameraWindow::create(session, scanner, camera->device);
        scanner->videoWindowList.push_back(window);
        window->number = static_cast<int32_t>(scanner->videoWindowList.size());
        session->connectToServer(nullptr, camera->device);
        window->resize(viewSize);
        window->showWindow();
        scanner->isConnected = true;
        window->viewController()->setDialogRunner(runner());
        camera->window = window;

        cameras.push_back(std::move(camera));
        return *cameras.back();
    }

    static std::shared_ptr<CameraWindow> windowOf(const Camera& camera) {
        auto window = camera.window.lock();
        EXPECT_NE(window, nullptr);
        return window;
    }
    static VideoView& viewOf(const Camera& camera) { return *windowOf(camera)->view(); }
    static CameraViewController& contentOf(const Camera& camera) {
        return *windowOf(camera)->viewController();
    }
    static VideoRenderer& videoOf(const Camera& camera) { return *contentOf(camera).renderer(); }
    // Whether the picture on screen stays the same while events run (no picture is on its way).
    static bool frameOnScreenStays(const Camera& camera) {
        QCoreApplication::processEvents();
        const int before = frameNumberOnScreen(camera);
        QCoreApplication::processEvents();
        return before >= 0 && frameNumberOnScreen(camera) == before;
    }

    // Waits until `count` more frames have been uploaded to the camera's view (and the bar is
    // placed); false at once when the window closes meanwhile (the session failed).
    bool waitForFrames(const Camera& camera, uint64_t count) {
        if (camera.window.expired()) {
            return false;
        }
        const uint64_t target = videoOf(camera).uploadedFrames() + count;
        bool reached = false;
        waitProcessingEvents(
            [&] {
                if (camera.window.expired()) {
                    return true;
                }
                const auto bar = viewOf(camera).controlBar();
                reached = videoOf(camera).uploadedFrames() >= target && bar && bar->barBound();
                return reached;
            },
            kPatience);
        return reached;
    }
    // The centre of bar button `index` (0..6), in the view's coordinates.
    static QPoint buttonCentre(const Camera& camera, int index) {
        VideoView& view = viewOf(camera);
        const QRectF bound = *view.controlBar()->barBound();  // backing pixels, from the bottom
        const double sh = bound.width() / BAR_WIDTH;
        const double x = bound.x() + sh * (BUTTON_INTERVAL * (index + 1) + BUTTON_WIDTH * index +
                                           BUTTON_WIDTH / 2);
        const double y = bound.y() + bound.height() / 2;
        const double scale = view.backingScale();
        return QPoint(static_cast<int>(std::lround(x / scale)),
                      static_cast<int>(std::lround(view.height() - y / scale)));
    }
    static void click(const Camera& camera, QPoint point) {
        QTest::mouseClick(&viewOf(camera), Qt::LeftButton, Qt::NoModifier, point);
    }
    // The video part of a grab of the view, as a frame of the stream's size.
    static QImage videoPart(const Camera& camera, const QImage& grab) {
        const VideoRenderer& video = videoOf(camera);
        const VideoViewport& port = video.viewport();
        const QRect rect(static_cast<int>(port.x),
                         grab.height() - static_cast<int>(port.y + port.h),
                         static_cast<int>(port.w), static_cast<int>(port.h));
        return grab.copy(rect).scaled(static_cast<int>(video.frame_width()),
                                      static_cast<int>(video.frame_height()), Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation);
    }
    // The frame number drawn into the video on screen, or -1.
    static int frameNumberOnScreen(const Camera& camera) {
        const QImage video = videoPart(camera, viewOf(camera).grabFramebuffer());
        return frameNumberIn(video, video.size());
    }
    // Waits, running the event loop meanwhile, for the camera's next output line with `text`.
    static bool seen(Camera& camera, std::string_view text) {
        return waitProcessingEvents(
            [&] {
                return camera.process->waitForLine(text, std::chrono::milliseconds(0)).has_value();
            },
            kPatience);
    }
    // The next message the camera received (a "recv" line), skipping intercom audio.
    static std::optional<std::string> nextCommand(Camera& camera) {
        std::optional<std::string> line;
        waitProcessingEvents(
            [&] {
                line = camera.process->waitForLine(
                    [](const std::string& candidate) {
                        return candidate.rfind("recv ", 0) == 0 &&
                               candidate.find("CmdOpusAudio") == std::string::npos;
                    },
                    std::chrono::milliseconds(0));
                return line.has_value();
            },
            kPatience);
        return line;
    }
    // Waits until the window has been released along with its session.
    static bool waitForReleased(const Camera& camera) {
        return waitProcessingEvents(
            [&] { return camera.window.expired() && camera.session.expired(); }, kPatience);
    }

    std::shared_ptr<TestVideoScanner> scanner = std::make_shared<TestVideoScanner>();
    std::vector<std::unique_ptr<Camera>> cameras;
    std::vector<SeenDialog> dialogs;
    // Answers a dialog; the default clicks the button "OK" of an alert and cancels any other.
    std::function<void(QDialog&)> answer;
};

constexpr int kFlash = 0, kSpeaker = 1, kAlarm = 2, kMicrophone = 3, kSwitchCamera = 4, kClose = 5,
              kShutter = 6;

bool near(QRgb pixel, int r, int g, int b, int tolerance = 12) {
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
           std::abs(qBlue(pixel) - b) <= tolerance;
}

std::vector<fs::path> snapshots(const fs::path& home) {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(home / "Pictures" / "vistamo+", ignored)) {
        // Whole pictures only, not one being written.
        if (entry.path().extension() == ".JPG") {
            files.push_back(entry.path());
        }
    }
    return files;
}

// 4:3 video in a taller view: grey bands above and below, the bar in the lower band.
TEST_F(CameraWindowTest, ShowsTheStreamLetterboxedWithTheBarOverIt) {
    Camera& camera = open({"--no-audio", "--size", "320x240"}, QSize(800, 900));
    ASSERT_TRUE(waitForFrames(camera, 10));
    EXPECT_EQ(windowOf(camera)->windowTitle(), "Video From Porch");

    const VideoViewport port = videoOf(camera).viewport();
    const double scale = viewOf(camera).backingScale();
    EXPECT_EQ(port.w, 800 * scale);
    EXPECT_EQ(port.h, 600 * scale);
    EXPECT_EQ(port.y, 150 * scale);

    // The frame number goes up from one grab to the next, and its blocks are white and black.
    const int first = frameNumberOnScreen(camera);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(waitForFrames(camera, 5));
    const QImage grab = viewOf(camera).grabFramebuffer();
    const QImage video = videoPart(camera, grab);
    const int second = frameNumberIn(video, video.size());
    EXPECT_GT(second, first);
    for (int bit = 0; bit < 12; ++bit) {
        const QRgb centre = video.pixel(bit * 16 + 8, 8);
        if ((second >> bit) & 1) {
            EXPECT_TRUE(near(centre, 255, 255, 255)) << "bit " << bit;
        } else {
            EXPECT_TRUE(near(centre, 0, 0, 0)) << "bit " << bit;
        }
    }

    // The band is the clear grey; the bar's buttons stand out from it, its gaps do not.
    const QRgb band = grab.pixel(grab.width() / 2, static_cast<int>(grab.height() - 100 * scale));
    EXPECT_TRUE(near(band, 64, 64, 64, 2));
    const QRectF bar = *viewOf(camera).controlBar()->barBound();
    const int barTop = static_cast<int>(grab.height() - bar.y() - bar.height());
    for (int button = 0; button < 7; ++button) {
        const QPoint centre = buttonCentre(camera, button) * scale;
        int drawn = 0;
        const int half = static_cast<int>(20 * scale);
        for (int y = centre.y() - half; y < centre.y() + half; ++y) {
            for (int x = centre.x() - half; x < centre.x() + half; ++x) {
                drawn += near(grab.pixel(x, y), 64, 64, 64, 2) ? 0 : 1;
            }
        }
        EXPECT_GT(drawn, half * half / 4) << "button " << button;
    }
    const int gapX = static_cast<int>(bar.x() + 20 * bar.width() / BAR_WIDTH);
    EXPECT_TRUE(near(grab.pixel(gapX, barTop + static_cast<int>(bar.height() / 2)), 64, 64, 64, 2));
}

// Also leaves a grab of the window with the torch on in the build tree's screenshots folder:
// camera-window.png, camera-window-hidpi.png at two device pixels per point, or
// camera-window-wayland.png on Qt's Wayland platform.
TEST_F(CameraWindowTest, BarButtonsSendTheirCommands) {
    Camera& camera = open({"--no-audio", "--size", "640x360"}, QSize(800, 500));
    ASSERT_TRUE(waitForFrames(camera, 3));
    ASSERT_TRUE(seen(camera, "stream started"));
    const CameraState& bar = contentOf(camera).cameraState();

    click(camera, buttonCentre(camera, kFlash));
    EXPECT_TRUE(seen(camera, "recv CmdFlashSwitch"));
    ASSERT_TRUE(waitProcessingEvents([&] { return bar.flash; }));
    ASSERT_TRUE(waitForFrames(camera, 2));
    const double scale = viewOf(camera).backingScale();
    const fs::path folder = VISTAMO_SCREENSHOT_DIR;
    fs::create_directories(folder);
    const std::string name = QGuiApplication::platformName() == QStringLiteral("wayland")
                                 ? "camera-window-wayland.png"
                             : scale > 1.5 ? "camera-window-hidpi.png"
                                           : "camera-window.png";
    EXPECT_TRUE(
        viewOf(camera).grabFramebuffer().save(QString::fromStdString((folder / name).string())));

    // The speaker follows the screen state the camera reports: each click switches the
    // camera's sound the way the button shows, then the camera's screen.
    for (int round = 0; round < 2; ++round) {
        const bool screen = bar.screen;
        const int starts = camera.codec->starts;
        const int stops = camera.codec->stops;
        click(camera, buttonCentre(camera, kSpeaker));
        EXPECT_TRUE(seen(camera, "recv CmdScreenSwitch"));
        EXPECT_EQ(camera.codec->starts - starts, screen ? 1 : 0);
        EXPECT_EQ(camera.codec->stops - stops, screen ? 0 : 1);
        EXPECT_EQ(camera.codec->playing, screen);
        ASSERT_TRUE(waitProcessingEvents([&] { return bar.screen != screen; }));
    }

    // Guard on, then (once the camera reports it armed) off.
    click(camera, buttonCentre(camera, kAlarm));
    EXPECT_TRUE(seen(camera, "recv CmdStartMonitor"));
    ASSERT_TRUE(waitProcessingEvents([&] { return bar.alarm; }));
    click(camera, buttonCentre(camera, kAlarm));
    EXPECT_TRUE(seen(camera, "recv CmdStopMonitor"));

    click(camera, buttonCentre(camera, kSwitchCamera));
    EXPECT_TRUE(seen(camera, "recv CmdSwitchCamera"));
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(CameraWindowTest, KeysDoWhatTheBarDoesTooltipsNameThemAndFullScreenComesAndGoes) {
    Camera& camera = open({"--no-audio", "--size", "320x240"}, QSize(800, 600));
    ASSERT_TRUE(waitForFrames(camera, 3));
    ASSERT_TRUE(seen(camera, "stream started"));
    CameraWindow& window = *windowOf(camera);
    VideoView& view = viewOf(camera);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    for (const auto& [key, command] : {std::pair{Qt::Key_T, "recv CmdFlashSwitch"},
                                       {Qt::Key_G, "recv CmdStartMonitor"},
                                       {Qt::Key_M, "recv CmdScreenSwitch"},
                                       {Qt::Key_L, "recv CmdSwitchCamera"}}) {
        QTest::keyClick(&window, key);
        EXPECT_TRUE(seen(camera, command)) << command;
    }

    const QStringList tips{"Torch (T)",    "Camera sound (M)", "Motion guard (G)",
                           "Intercom (I)", "Lens (L)",         "Close",
                           "Snapshot (S)"};
    for (int index = 0; index < BUTTONS; ++index) {
        const QPoint centre = buttonCentre(camera, index);
        QHelpEvent help(QEvent::ToolTip, centre, view.mapToGlobal(centre));
        QApplication::sendEvent(&view, &help);
        EXPECT_EQ(QToolTip::text(), tips[index]);
    }

    // F11 and a double click on the picture go full screen; Esc comes back. A double click on
    // a button does not.
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(waitProcessingEvents([&] { return window.isFullScreen(); }));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(waitProcessingEvents([&] { return !window.isFullScreen(); }));
    QTest::mouseDClick(&view, Qt::LeftButton, Qt::NoModifier, buttonCentre(camera, kFlash));
    QTest::mouseDClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(400, 100));
    EXPECT_TRUE(waitProcessingEvents([&] { return window.isFullScreen(); }));
    QTest::mouseDClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(400, 100));
    EXPECT_TRUE(waitProcessingEvents([&] { return !window.isFullScreen(); }));
}

// W offers the window's camera to other programs through PipeWire and takes it back; the choice
// is kept per camera and applied when that camera's window opens again, and closing the window
// takes the devices away.
TEST_F(CameraWindowTest, WebcamComesWithWIsRememberedAndGoesWithTheWindow) {
    PipeWireDaemons daemons;
    scanner->webcam = PipeWireConnection::open();
    ASSERT_TRUE(scanner->webcam);
    Camera& camera = open({"--no-audio", "--size", "320x240"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    CameraWindow& window = *windowOf(camera);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::string identity = window.cameraIdentity();
    ASSERT_FALSE(identity.empty());
    const std::string node = webcamVideoNames(identity, "Porch").nodeName;
    const auto published = [&] {
        return PipeWireDaemons::nodeProperties(daemons.dump(), node).has_value();
    };

    QTest::keyClick(&window, Qt::Key_W);
    EXPECT_TRUE(window.usesWebcam());
    EXPECT_TRUE(waitProcessingEvents(published));
    EXPECT_EQ(scanner->webcamCameras, std::set<std::string>{identity});
    QTest::keyClick(&window, Qt::Key_W);
    EXPECT_TRUE(waitProcessingEvents([&] { return !published(); }));
    EXPECT_TRUE(scanner->webcamCameras.empty());

    QTest::keyClick(&window, Qt::Key_W);
    ASSERT_TRUE(waitProcessingEvents(published));
    window.close();
    EXPECT_TRUE(waitProcessingEvents([&] { return !published(); }));
    EXPECT_EQ(scanner->webcamCameras, std::set<std::string>{identity});

    Camera& again = open({"--no-audio", "--size", "320x240"});
    EXPECT_TRUE(waitProcessingEvents([&] { return windowOf(again)->usesWebcam(); }));
    EXPECT_TRUE(waitProcessingEvents(published));
    static_cast<QWidget*>(windowOf(again).get())->close();
    EXPECT_TRUE(waitProcessingEvents([&] { return !published(); }));
}

TEST_F(CameraWindowTest, TapsFocusOnlyInsideTheVideo) {
    // 16:9 in a square view: bands above and below.
    Camera& camera = open({"--no-audio", "--size", "320x180"}, QSize(640, 640));
    ASSERT_TRUE(waitForFrames(camera, 3));
    ASSERT_TRUE(seen(camera, "stream started"));

    click(camera, QPoint(100, 50));  // the upper band
    click(camera, QPoint(320, 320));
    EXPECT_TRUE(
        seen(camera, "recv CmdTapFocus length=24 type=1 details=0x3f000000 details2=0x3f000000"));
    // The band click sent nothing.
    int taps = 0;
    for (const std::string& line : camera.process->lines()) {
        taps += line.find("recv CmdTapFocus") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(taps, 1);
}

TEST_F(CameraWindowTest, IntercomSendsTheMicrophoneBetween108And109) {
    const fs::path wav = home_ / "intercom.wav";
    Camera& camera = open({"--no-audio", "--intercom-wav", wav.string()});
    ASSERT_TRUE(waitForFrames(camera, 3));
    const CameraState& bar = contentOf(camera).cameraState();

    click(camera, buttonCentre(camera, kMicrophone));
    EXPECT_TRUE(bar.muteMic);
    ASSERT_TRUE(seen(camera, "recv CmdIntercomStart"));
    for (int packet = 0; packet < 100; ++packet) {
        ASSERT_TRUE(seen(camera, "intercom packet samples=480"));
    }
    click(camera, buttonCentre(camera, kMicrophone));
    EXPECT_FALSE(bar.muteMic);
    EXPECT_FALSE(contentOf(camera).intercomOn());
    ASSERT_TRUE(seen(camera, "recv CmdIntercomStop"));

    std::ifstream in(wav, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(file.size(), 44u + 100 * 960);
    EXPECT_TRUE(toneDominates(samplesOf(ByteView(file).subspan(44)), 660));
}

TEST_F(CameraWindowTest, ShutterTakesOnePicturePerGuardPeriod) {
    Camera& camera = open({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    auto now = CameraViewController::Clock::now();
    contentOf(camera).setClock([&] { return now; });
    scanner->hit = true;
    answer = [](QDialog& dialog) { clickButton(static_cast<QMessageBox&>(dialog), "Never Show"); };

    click(camera, buttonCentre(camera, kShutter));
    ASSERT_TRUE(waitProcessingEvents([&] { return snapshots(home_).size() == 1; }));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, "Picture Saved");
    EXPECT_EQ(dialogs[0].informative, "The picture has been Saved into pictures folder");
    EXPECT_EQ(dialogs[0].buttons, (std::vector<QString>{"OK", "Never Show"}));
    EXPECT_FALSE(scanner->hit);
    EXPECT_EQ(scanner->optionsSaved, 1);

    now += std::chrono::milliseconds(1000);
    click(camera, buttonCentre(camera, kShutter));
    now += std::chrono::milliseconds(300);  // 1.3 s after the picture: still guarded
    click(camera, buttonCentre(camera, kShutter));
    ASSERT_TRUE(waitForFrames(camera, 10));
    EXPECT_EQ(snapshots(home_).size(), 1u);
    EXPECT_EQ(scanner->pictureNumber, 1);

    now += std::chrono::milliseconds(200);
    click(camera, buttonCentre(camera, kShutter));
    ASSERT_TRUE(waitProcessingEvents([&] { return snapshots(home_).size() == 2; }));
    EXPECT_EQ(dialogs.size(), 1u);  // "Never Show" held
}

TEST_F(CameraWindowTest, WideStreamShowsTheAlertInsteadOfSwitching) {
    Camera& camera = open({"--no-audio", "--size", "2048x1152", "--fps", "5"});
    ASSERT_TRUE(waitForFrames(camera, 2));
    ASSERT_TRUE(seen(camera, "stream started"));

    click(camera, buttonCentre(camera, kSwitchCamera));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].modality, DialogModality::windowSheet);
    EXPECT_EQ(dialogs[0].text, "Message");
    EXPECT_EQ(dialogs[0].informative, "The current camera resolution cannot switch to the front");
    EXPECT_EQ(dialogs[0].buttons, (std::vector<QString>{"OK"}));
    // Nothing went to the camera: the next command it hears is the torch.
    click(camera, buttonCentre(camera, kFlash));
    const auto next = nextCommand(camera);
    ASSERT_TRUE(next);
    EXPECT_NE(next->find("recv CmdFlashSwitch"), std::string::npos) << *next;
}

TEST_F(CameraWindowTest, CloseButtonDropsTheConnectionWithoutGoodbye) {
    Camera& camera = open({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    const QPointer<CameraWindow> window = windowOf(camera).get();

    click(camera, buttonCentre(camera, kClose));
    EXPECT_TRUE(videoOf(camera).bClosing());
    EXPECT_FALSE(camera.device->bOccupied());
    EXPECT_TRUE(scanner->videoWindowList.empty());
    EXPECT_EQ(scanner->scannerShown, 1);
    ASSERT_TRUE(seen(camera, "closed by peer"));
    // The window closes shortly after, and goes with its session.
    ASSERT_TRUE(waitProcessingEvents([&] { return window.isNull() || !window->isVisible(); }));
    EXPECT_FALSE(scanner->isConnected);
    EXPECT_TRUE(waitForReleased(camera));
    EXPECT_GE(scanner->destroyCalls, 1);
    for (const std::string& line : camera.process->lines()) {
        EXPECT_EQ(line.find("CmdDisconnect"), std::string::npos) << line;
    }
}

TEST_F(CameraWindowTest, ClosingOneOfTwoWindowsLeavesTheOtherStreaming) {
    Camera& first = open({"--no-audio"});
    Camera& second = open({"--no-audio", "--size", "480x272"});
    ASSERT_TRUE(waitForFrames(first, 3));
    ASSERT_TRUE(waitForFrames(second, 3));
    EXPECT_EQ(windowOf(first)->number, 1);
    EXPECT_EQ(windowOf(second)->number, 2);

    // The first by its close box: the session says goodbye.
    static_cast<QWidget*>(windowOf(first).get())->close();
    EXPECT_TRUE(seen(first, "recv CmdDisconnect"));
    EXPECT_FALSE(scanner->isConnected);
    EXPECT_EQ(scanner->videoWindowList.size(), 1u);
    EXPECT_TRUE(waitForReleased(first));

    ASSERT_TRUE(waitForFrames(second, 10));
    EXPECT_GE(frameNumberOnScreen(second), 0);

    // The second camera goes away: with no way to make another session, its window closes.
    scanner->isConnected = true;
    ASSERT_TRUE(second.process->sendControl("close"));
    EXPECT_TRUE(waitForReleased(second));
    EXPECT_FALSE(scanner->isConnected);
    EXPECT_TRUE(scanner->videoWindowList.empty());
    EXPECT_FALSE(second.device->bOccupied());
}

// A session can go while its window stays: the window keeps its last picture and is not closed
// by the session's end, and another session attached to it streams into the same renderer,
// view, bar and controller.
TEST_F(CameraWindowTest, ASessionDetachesAndAnotherAttachesToTheSameWindow) {
    Camera& first = open({"--no-audio", "--size", "320x240"});
    ASSERT_TRUE(waitForFrames(first, 3));
    const auto window = windowOf(first);
    CameraViewController* const content = window->viewController().get();
    VideoRenderer* const renderer = content->renderer().get();
    VideoView* const view = window->view();
    ControlBar* const bar = view->controlBar().get();

    click(first, buttonCentre(first, kMicrophone));
    ASSERT_TRUE(seen(first, "recv CmdIntercomStart"));

    // Detached while still alive and streaming: the intercom stops, its pictures no longer reach
    // the window, and its end does not close the window.
    std::shared_ptr<CameraSession> detached = first.session.lock();
    window->detach();
    EXPECT_EQ(window->session(), nullptr);
    EXPECT_EQ(content->session(), nullptr);
    EXPECT_FALSE(content->intercomOn());
    EXPECT_TRUE(seen(first, "recv CmdIntercomStop"));
    QCoreApplication::processEvents();
    const uint64_t uploaded = renderer->uploadedFrames();
    const uint64_t decoded = detached->videoStatistics().shownPictures;
    ASSERT_TRUE(waitProcessingEvents(
        [&] { return detached->videoStatistics().shownPictures >= decoded + 5; }, kPatience));
    EXPECT_LE(renderer->uploadedFrames(), uploaded + 1);  // one may have been on its way
    ASSERT_TRUE(first.process->sendControl("close"));
    ASSERT_TRUE(waitProcessingEvents([&] { return scanner->devicesDown > 0; }, kPatience));
    detached.reset();
    ASSERT_TRUE(waitProcessingEvents([&] { return first.session.expired(); }, kPatience));
    EXPECT_TRUE(frameOnScreenStays(first));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(scanner->videoWindowList.size(), 1u);
    // Clicks without a session go nowhere.
    click(first, buttonCentre(first, kFlash));

    cameras.push_back(start({"--no-audio", "--size", "480x272"}));
    Camera& second = *cameras.back();
    const auto session = makeSession(second);
    window->attach(session);
    session->connectToServer(nullptr, second.device);
    ASSERT_TRUE(waitProcessingEvents([&] { return renderer->frame_width() == 480; }, kPatience));
    ASSERT_TRUE(waitForFrames(first, 3));
    EXPECT_EQ(window->viewController().get(), content);
    EXPECT_EQ(content->renderer().get(), renderer);
    EXPECT_EQ(window->view(), view);
    EXPECT_EQ(view->controlBar().get(), bar);
    EXPECT_GE(frameNumberOnScreen(first), 0);
    click(first, buttonCentre(first, kFlash));
    EXPECT_TRUE(seen(second, "recv CmdFlashSwitch"));
}

// The finished recordings in the Videos folder, oldest first (names hold the time; a second
// file in the same second gets " 2").
std::vector<fs::path> recordings() {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(*clipFolder(), ignored)) {
        if (entry.path().extension() == ".mp4") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return fs::last_write_time(a) < fs::last_write_time(b);
    });
    return files;
}

// The red dot: strongly red pixels in the top right quarter of the picture.
int redPixels(const QImage& picture) {
    int red = 0;
    for (int y = 0; y < picture.height() / 4; ++y) {
        for (int x = picture.width() / 2; x < picture.width(); ++x) {
            red += near(picture.pixel(x, y), 230, 30, 30, 40) ? 1 : 0;
        }
    }
    return red;
}

// Playable, and the camera's sound is in it.
void expectPlayableWithSound(const ClipProbe& clip) {
    expectPlayable(clip);
    EXPECT_GT(clip.audioPackets, 0);
}

// R starts and stops; the red dot and the running time show meanwhile, over the picture only;
// closing the window while recording still leaves a whole file.
TEST_F(CameraWindowTest, RecordsOnRAndFinishesTheFileWhenTheWindowCloses) {
    Camera& camera = open({"--size", "640x360", "--gop", "10"}, QSize(800, 500));
    ASSERT_TRUE(waitForFrames(camera, 3));
    CameraWindow& window = *windowOf(camera);
    // Window tests running beside this one may take the focus away.
    std::shared_ptr<const SessionRecorder> recorder;
    double recorded = 0;
    const auto pressR = [&] {
        ASSERT_TRUE(waitProcessingEvents([&] {
            window.activateWindow();
            return window.isActiveWindow();
        }));
        recorded = recorder ? recorder->recordingSeconds() : 0;
        QTest::keyClick(&window, Qt::Key_R);
    };
    const QImage before = videoPart(camera, viewOf(camera).grabFramebuffer());

    recorder = camera.session.lock()->recorder();
    ASSERT_NE(recorder, nullptr);

    // A file where the recordings' folder should be: a notice over the picture, no recording.
    writeText(*clipFolder(), "in the way");
    pressR();
    ASSERT_TRUE(waitProcessingEvents(
        [&] { return viewOf(camera).recordingOverlay().notice().contains("cannot be created"); }));
    EXPECT_FALSE(recorder->isRecording());
    fs::remove(*clipFolder());

    pressR();
    ASSERT_TRUE(waitProcessingEvents([&] { return recorder->recordingSeconds() >= 3; }));
    ASSERT_TRUE(waitForFrames(camera, 2));
    const QImage grab = viewOf(camera).grabFramebuffer();
    EXPECT_GT(redPixels(videoPart(camera, grab)), 50);
    EXPECT_EQ(redPixels(before), 0);
    EXPECT_TRUE(contentOf(camera).isRecording());
    const fs::path folder = VISTAMO_SCREENSHOT_DIR;
    fs::create_directories(folder);
    grab.save(QString::fromStdString((folder / "camera-window-recording.png").string()));

    pressR();
    ASSERT_TRUE(waitProcessingEvents([&] { return recordings().size() == 1; }));
    EXPECT_FALSE(recorder->isRecording());
    const ClipProbe first = probeClip(recordings()[0]);
    expectPlayableWithSound(first);
    EXPECT_NEAR(first.videoSeconds, recorded, 0.2);
    EXPECT_NEAR(first.videoPackets, recorded * 10, 2);  // ten pictures a second
    EXPECT_EQ(first.width, 640);

    // Again, then the window closes in the middle.
    pressR();
    ASSERT_TRUE(waitProcessingEvents([&] { return recorder->recordingSeconds() >= 1; }));
    static_cast<QWidget*>(&window)->close();
    ASSERT_TRUE(waitProcessingEvents([&] { return recordings().size() == 2; }));
    expectPlayableWithSound(probeClip(recordings()[1]));
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(*clipFolder(), ignored)) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
}

// With "Record a clip" on, an alarm from the camera records a clip, its pictures sent in two
// slices each handed to the recorder together, with the camera's sound.
TEST_F(CameraWindowTest, MotionAlarmRecordsAClip) {
    ASSERT_TRUE(saveClipSettings(ClipSettings{true, 1, 1}));
    Camera& camera = open({"--size", "320x240", "--gop", "5", "--two-slices"});
    ASSERT_TRUE(waitForFrames(camera, 15));  // more than the second kept before

    ASSERT_TRUE(camera.process->sendControl("alarm"));
    ASSERT_TRUE(seen(camera, "control ok alarm"));
    const auto recorder = camera.session.lock()->recorder();
    ASSERT_TRUE(waitProcessingEvents([&] { return recorder->isRecording(); }));
    ASSERT_TRUE(waitProcessingEvents([&] { return recordings().size() == 1; }));
    const ClipProbe clip = probeClip(recordings()[0]);
    expectPlayableWithSound(clip);
    EXPECT_GE(clip.videoPackets, 10);
}

// Publish Stream… through its dialog to a real RTSP receiver: the line over the picture follows
// the publisher, and stopping says goodbye to the receiver, which then holds the pictures. Also
// leaves a grab of the window while it publishes in the build tree's screenshots folder.
TEST_F(CameraWindowTest, PublishesThroughItsDialogAndSaysSoOverThePicture) {
    const uint16_t port = freeLoopbackPort();
    RtspReceiver receiver(port, "porch", home_ / "porch.mkv");
    const std::string address = "rtsp://127.0.0.1:" + std::to_string(port) + "/porch";
    answer = [&](QDialog& dialog) {
        auto* publish = qobject_cast<PublishDialog*>(&dialog);
        ASSERT_NE(publish, nullptr);
        publish->addressField()->setText(QString::fromStdString(address));
        publish->tryStart();
    };
    Camera& camera = open({"--size", "640x360", "--gop", "10"}, QSize(800, 500));
    ASSERT_TRUE(waitForFrames(camera, 3));
    contentOf(camera).togglePublishing();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].modality, DialogModality::windowSheet);
    EXPECT_TRUE(contentOf(camera).isPublishing());
    const QString line = QString("Publishing to 127.0.0.1:%1/porch").arg(port);
    ASSERT_TRUE(waitProcessingEvents(
        [&] { return viewOf(camera).recordingOverlay().publishingLine() == line; }));
    ASSERT_TRUE(waitForFrames(camera, 20));
    const fs::path folder = VISTAMO_SCREENSHOT_DIR;
    fs::create_directories(folder);
    viewOf(camera).grabFramebuffer().save(
        QString::fromStdString((folder / "camera-window-publishing.png").string()));

    contentOf(camera).togglePublishing();
    EXPECT_FALSE(contentOf(camera).isPublishing());
    EXPECT_TRUE(viewOf(camera).recordingOverlay().publishingLine().isEmpty());
    EXPECT_EQ(dialogs.size(), 1u);
    ASSERT_TRUE(waitProcessingEvents([&] { return !receiver.running(); }));
    EXPECT_GE(readReceived(receiver.file()).pictures, 10);
}

// Also run with QT_SCALE_FACTOR=2 (a ctest entry of its own): everything is in device pixels.
class CameraWindowScreenshot : public CameraWindowTest {};

TEST_F(CameraWindowScreenshot, ViewportFollowsDevicePixels) {
    Camera& camera = open({"--no-audio", "--size", "320x240"}, QSize(1600, 900));
    const double scale = viewOf(camera).backingScale();
    windowOf(camera)->resize(QSize(1600, 900) / scale);
    ASSERT_TRUE(waitProcessingEvents([&] { return viewOf(camera).width() * scale == 1600; }));
    ASSERT_TRUE(waitForFrames(camera, 3));
    const VideoViewport port = videoOf(camera).viewport();
    EXPECT_EQ(port.x, 200);
    EXPECT_EQ(port.y, 0);
    EXPECT_EQ(port.w, 1200);
    EXPECT_EQ(port.h, 900);
}

// Camera windows that lose their camera and connect again by themselves. The scanner makes
// sessions as the application's does; the camera goes through the fault relay where the link is
// cut.
class CameraReconnectTest : public CameraWindowTest {
protected:
    void SetUp() override {
        CameraWindowTest::SetUp();
        scanner->sessions = [this] {
            ++sessionsMade;
            return makeSession(*cameras.back());
        };
    }
    // Opens a camera whose window connects through the relay.
    Camera& openRelayed(std::vector<std::string> options) {
        auto camera = start(std::move(options));
        relay = std::make_unique<FaultRelay>(camera->process->port());
        camera->device->setPort(relay->port());
        return show(std::move(camera));
    }
    // Starts the camera anew on the same port with `options`; the old one quits first.
    void restart(Camera& camera, std::vector<std::string> options) {
        const std::string port = std::to_string(camera.process->port());
        ASSERT_TRUE(camera.process->sendControl("quit"));
        camera.process->stop();
        options.insert(options.begin(), {"--port", port, "--control", "--fps", "10"});
        camera.process = std::make_unique<CameraProcess>(options);
    }

    std::unique_ptr<FaultRelay> relay;
    int sessionsMade = 0;
};

// A reset and an orderly close while streaming: the same window streams again, with the torch
// state the camera reports on the new connection.
TEST_F(CameraReconnectTest, CutWhileStreamingStreamsAgainInTheSameWindow) {
    Camera& camera = openRelayed({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 5));
    const std::shared_ptr<CameraWindow> window = windowOf(camera);
    click(camera, buttonCentre(camera, kFlash));
    ASSERT_TRUE(waitProcessingEvents([&] { return contentOf(camera).cameraState().flash; }));

    for (const FaultRelay::Cut how : {FaultRelay::Cut::reset, FaultRelay::Cut::close}) {
        SCOPED_TRACE(how == FaultRelay::Cut::reset ? "reset" : "orderly close");
        const std::weak_ptr<CameraSession> before = camera.session;
        const size_t accepted = relay->connectionsAccepted();
        relay->cut(how);
        ASSERT_TRUE(waitProcessingEvents([&] { return viewOf(camera).reconnectingShown(); }));
        ASSERT_TRUE(waitProcessingEvents([&] { return relay->connectionsAccepted() > accepted; }));
        const auto acceptedAt = std::chrono::steady_clock::now();
        const uint64_t uploaded = videoOf(camera).uploadedFrames();
        ASSERT_TRUE(waitProcessingEvents(
            [&] { return videoOf(camera).uploadedFrames() > uploaded; }, kPatience));
        const std::chrono::duration<double> toPicture =
            std::chrono::steady_clock::now() - acceptedAt;
        std::printf("from the camera accepting to the next picture: %.3f s\n", toPicture.count());

        EXPECT_EQ(windowOf(camera), window);
        EXPECT_EQ(scanner->videoWindowList.size(), 1u);
        EXPECT_NE(camera.session.lock(), before.lock());
        EXPECT_FALSE(viewOf(camera).reconnectingShown());
        EXPECT_FALSE(window->reconnecting());
        // The stream moves: the numbers drawn in its pictures go on changing.
        ASSERT_TRUE(waitForFrames(camera, 2));
        const int first = frameNumberOnScreen(camera);
        ASSERT_TRUE(waitForFrames(camera, 3));
        EXPECT_NE(frameNumberOnScreen(camera), first);
        // The camera's state came again on the new connection, the torch still on.
        EXPECT_TRUE(seen(camera, "send CmdCameraStatus"));
        EXPECT_TRUE(contentOf(camera).cameraState().flash);
    }
    EXPECT_EQ(sessionsMade, 2);
    EXPECT_TRUE(scanner->lost.empty());
}

// The camera comes back asking for a password: the dialog shows as for any session, and
// cancelling it closes the window.
TEST_F(CameraReconnectTest, PasswordRefusedOnReconnectClosesTheWindow) {
    Camera& camera = open({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    restart(camera, {"--no-audio", "--password", "secret"});
    ASSERT_TRUE(seen(camera, "password rejected"));
    EXPECT_TRUE(waitForReleased(camera));
    EXPECT_GE(sessionsMade, 1);
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs.back().modality, DialogModality::application);
    EXPECT_TRUE(scanner->videoWindowList.empty());
    EXPECT_TRUE(scanner->lost.empty());
}

// Closing the window while it waits to connect again stops the waits: no session is made after.
// Meanwhile the last picture stays, dimmed, under "Reconnecting…" (camera-window-reconnecting.png
// in the screenshots folder).
TEST_F(CameraReconnectTest, ClosingWhileReconnectingStopsAtOnce) {
    Camera& camera = openRelayed({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    const auto brightness = [&](const QImage& grab) {
        // The top half of the picture: the words sit in the middle.
        const QImage grey = videoPart(camera, grab).convertToFormat(QImage::Format_Grayscale8);
        double sum = 0;
        for (int y = 0; y < grey.height() / 2; ++y) {
            const uchar* line = grey.constScanLine(y);
            sum += std::accumulate(line, line + grey.width(), 0.0);
        }
        return sum / (grey.width() * (grey.height() / 2));
    };
    const double live = brightness(viewOf(camera).grabFramebuffer());
    ASSERT_TRUE(camera.process->sendControl("quit"));
    ASSERT_TRUE(waitProcessingEvents([&] { return sessionsMade >= 2; }));
    EXPECT_TRUE(windowOf(camera)->reconnecting());
    ASSERT_TRUE(viewOf(camera).reconnectingShown());
    const QImage dimmed = viewOf(camera).grabFramebuffer();
    // A black veil of 150/255 leaves about two fifths of the light.
    EXPECT_LT(brightness(dimmed), live * 0.6);
    EXPECT_GT(brightness(dimmed), live * 0.2);
    const fs::path folder = VISTAMO_SCREENSHOT_DIR;
    fs::create_directories(folder);
    EXPECT_TRUE(
        dimmed.save(QString::fromStdString((folder / "camera-window-reconnecting.png").string())));
    static_cast<QWidget*>(windowOf(camera).get())->close();
    const int made = sessionsMade;
    EXPECT_TRUE(waitForReleased(camera));
    // Longer than the waits reached so far.
    waitProcessingEvents([] { return false; }, std::chrono::seconds(3));
    EXPECT_EQ(sessionsMade, made);
    EXPECT_TRUE(scanner->lost.empty());
}

// After five minutes without the camera the window gives up: one notice, and it closes.
TEST_F(CameraReconnectTest, GivesUpAfterFiveMinutesWithOneNotice) {
    Camera& camera = open({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    // The window keeps the clock: it may outlive the test when the test fails.
    auto now =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    windowOf(camera)->setReconnectPolicy(
        ReconnectPolicy([] { return 0.5; }, [now] { return *now; }));
    ASSERT_TRUE(camera.process->sendControl("quit"));
    ASSERT_TRUE(waitProcessingEvents([&] { return sessionsMade >= 1; }));
    *now += ReconnectPolicy::kGiveUpAfter;
    EXPECT_TRUE(waitForReleased(camera));
    EXPECT_EQ(scanner->lost, std::vector<std::string>{"Porch"});
    EXPECT_TRUE(scanner->videoWindowList.empty());
}

// A camera that said it leaves (no longer listed by discovery) is not waited for.
TEST_F(CameraReconnectTest, CameraThatLeftClosesTheWindow) {
    Camera& camera = open({"--no-audio"});
    ASSERT_TRUE(waitForFrames(camera, 3));
    scanner->records = [](const std::shared_ptr<CameraRecord>&, const std::string&) {
        return std::shared_ptr<CameraRecord>();
    };
    ASSERT_TRUE(camera.process->sendControl("quit"));
    EXPECT_TRUE(waitForReleased(camera));
    EXPECT_EQ(sessionsMade, 0);
    EXPECT_TRUE(scanner->lost.empty());
}

TEST(ReconnectPolicyTest, WaitsDoubleFromHalfASecondToTenWithJitterAndGiveUpAfterFiveMinutes) {
    using namespace std::chrono;
    auto now = steady_clock::now();
    double random = 0.5;
    ReconnectPolicy policy([&] { return random; }, [&] { return now; });
    EXPECT_FALSE(policy.nextWait());  // nothing dropped

    policy.dropped();
    EXPECT_EQ(policy.nextWait(), milliseconds(500));
    EXPECT_EQ(policy.nextWait(), milliseconds(1000));
    EXPECT_EQ(policy.nextWait(), milliseconds(2000));
    EXPECT_EQ(policy.nextWait(), milliseconds(4000));
    EXPECT_EQ(policy.nextWait(), milliseconds(8000));
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(policy.nextWait(), milliseconds(10000));
    }
    // The first wait of a new drop, at either end of the jitter.
    policy.succeeded();
    policy.dropped();
    random = 0;
    EXPECT_EQ(policy.nextWait(), milliseconds(400));
    policy.succeeded();
    policy.dropped();
    random = 0.999999;
    const auto wait = *policy.nextWait();
    EXPECT_GT(wait, milliseconds(599));
    EXPECT_LE(wait, milliseconds(600));

    // A later drop while one is handled keeps the first moment.
    now += minutes(4);
    policy.dropped();
    EXPECT_TRUE(policy.nextWait());
    now += minutes(1);
    EXPECT_FALSE(policy.nextWait());
}

}  // namespace
}  // namespace vistamo::test
