#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDialog>
#include <QImage>
#include <QMessageBox>
#include <QPoint>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/ZDeviceInfo.h"
#include "session/SessionAudioCodec.h"
#include "session/clientSocket.h"
#include "support/CameraProcess.h"
#include "support/TempHome.h"
#include "support/qt/QtWait.h"
#include "video/TestVideoScanner.h"
#include "video/ZGLVC.h"
#include "video/ZGLView.h"
#include "video/ZVideo.h"
#include "video/ZVideoWindow.h"
#include "video/videoWindow.h"

namespace vistamo::test {

// The camera's sound as the session plays it: only the playback gate is of interest here.
class GateWatchingCodec final : public SessionAudioCodec {
public:
    void setDelegate(std::weak_ptr<opusCodecDelegate> /*delegate*/) override {}
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

// Camera windows fed by real test cameras over loopback, opened as the scanner opens them, in
// a temporary home (snapshots land in its Pictures folder) with SDL's disk audio driver (the
// microphone reads a file). Dialogs go to `answer` instead of the screen.
class CameraWindowTest : public TempHomeTest {
protected:
    struct Camera {
        std::unique_ptr<CameraProcess> process;
        std::shared_ptr<ZDeviceInfo> device;
        std::weak_ptr<videoWindow> wc;
        std::weak_ptr<clientSocket> session;
        std::shared_ptr<GateWatchingCodec> codec;
    };

    void SetUp() override;
    void TearDown() override;

    // Starts a camera with `options` (after "--port 0 --control --name Porch --fps 10") and
    // opens its window with a view of `viewSize` points.
    Camera& open(std::vector<std::string> options, QSize viewSize = QSize(800, 600),
                 std::optional<std::string> password = std::nullopt);

    static std::shared_ptr<videoWindow> controllerOf(const Camera& camera);
    static ZGLView& viewOf(const Camera& camera);
    static ZGLVC& contentOf(const Camera& camera);
    static ZVideo& videoOf(const Camera& camera);

    // Waits until `count` more frames have been uploaded to the camera's view (and the bar is
    // placed).
    bool waitForFrames(const Camera& camera, uint64_t count);
    // The centre of bar button `index` (0..6), in the view's coordinates.
    static QPoint buttonCentre(const Camera& camera, int index);
    static void click(const Camera& camera, QPoint point);
    // The video part of a grab of the view, as a frame of the stream's size.
    static QImage videoPart(const Camera& camera, const QImage& grab);
    // The frame number drawn into the video on screen, or -1.
    static int frameNumberOnScreen(const Camera& camera);

    // Waits, running the event loop meanwhile, for the camera's next output line that contains
    // `text` (see CameraProcess::waitForLine).
    static bool seen(Camera& camera, std::string_view text);
    // The next message the camera received (a "recv" line), skipping intercom audio.
    static std::optional<std::string> nextCommand(Camera& camera);

    // Waits until every window has been released along with its session.
    bool waitForReleased(const Camera& camera);

    std::shared_ptr<TestVideoScanner> scanner = std::make_shared<TestVideoScanner>();
    std::vector<std::unique_ptr<Camera>> cameras;
    std::vector<SeenDialog> dialogs;
    // Answers a dialog; the default clicks the button "OK" of an alert and cancels any other.
    std::function<void(QDialog&)> answer;
    DialogRunner runner();
};

// Clicks the alert's button with `text`.
void clickButton(QMessageBox& box, const QString& text);

}  // namespace vistamo::test
