#include "video/CameraWindowFixture.h"

#include <QAbstractButton>
#include <QTest>
#include <cmath>
#include <fstream>

#include "media/AudioSignals.h"
#include "support/TestStream.h"
#include "video/SessionPartsFactory.h"
#include "video/ZControlBar.h"

namespace vistamo::test {

namespace {

constexpr auto kPatience = std::chrono::seconds(30);

}  // namespace

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

void CameraWindowTest::SetUp() {
    TempHomeTest::SetUp();
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", (home_ / "played.raw").c_str(), 1);
    ::setenv("SDL_DISKAUDIOFILEIN", (home_ / "microphone.raw").c_str(), 1);
    // Twenty seconds of a 660 Hz tone for the microphone.
    const Bytes microphone = bytesOfSamples(tone(660, 20 * 48000, 12000));
    std::ofstream(home_ / "microphone.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(microphone.data()),
               static_cast<std::streamsize>(microphone.size()));
    answer = [](QDialog& dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            clickButton(*box, "OK");
        } else {
            dialog.reject();
        }
    };
}

void CameraWindowTest::TearDown() {
    // Windows still open close as their close box closes them.
    for (const auto& camera : cameras) {
        if (auto wc = camera->wc.lock()) {
            static_cast<QWidget*>(wc->window())->close();
        }
    }
    for (const auto& camera : cameras) {
        EXPECT_TRUE(waitForReleased(*camera));
        if (HasFailure()) {
            for (const std::string& line : camera->process->lines()) {
                if (line.find("CmdVideoFrame") == std::string::npos &&
                    line.find("CmdOpusAudio") == std::string::npos &&
                    line.find("CmdStreamParameters") == std::string::npos) {
                    std::printf("camera: %s\n", line.c_str());
                }
            }
        }
    }
    cameras.clear();
    TempHomeTest::TearDown();
}

DialogRunner CameraWindowTest::runner() {
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

CameraWindowTest::Camera& CameraWindowTest::open(std::vector<std::string> options, QSize viewSize,
                                                 std::optional<std::string> password) {
    auto camera = std::make_unique<Camera>();
    // Ten pictures a second keep software OpenGL under Xvfb well ahead of the stream; a later
    // "--fps" wins.
    options.insert(options.begin(), {"--port", "0", "--control", "--name", "Porch", "--fps", "10"});
    camera->process = std::make_unique<CameraProcess>(options);
    camera->codec = std::make_shared<GateWatchingCodec>();

    SessionParts parts = makeSessionParts(runner());
    parts.hasLocalAddress = [] { return true; };
    parts.makeCodec = [codec = camera->codec] { return codec; };
    auto session = clientSocket::init(std::move(parts));
    session->setMScanner(scanner);
    camera->session = session;

    camera->device = std::make_shared<ZDeviceInfo>();
    camera->device->setMDeviceName("Porch");
    camera->device->setMDeviceIP("127.0.0.1");
    camera->device->setMPort(camera->process->port());
    camera->device->setMPassword(password);

    // As the scanner opens a camera from its button.
    camera->device->setBOccupied(true);
    auto wc = videoWindow::create();
    wc->mScanner = scanner;
    wc->setMClientSocket(session);
    wc->setClient();
    wc->device = camera->device;
    scanner->videoWindowList.push_back(wc);
    wc->number = static_cast<int32_t>(scanner->videoWindowList.size());
    session->connectToServer(nullptr, camera->device);
    wc->window()->resize(viewSize);
    wc->showWindow();
    scanner->isConnected = true;
    wc->setSocket();
    wc->glVC.lock()->setDialogRunner(runner());
    camera->wc = wc;

    cameras.push_back(std::move(camera));
    return *cameras.back();
}

std::shared_ptr<videoWindow> CameraWindowTest::controllerOf(const Camera& camera) {
    auto wc = camera.wc.lock();
    EXPECT_NE(wc, nullptr);
    return wc;
}

ZGLView& CameraWindowTest::viewOf(const Camera& camera) {
    return *controllerOf(camera)->window()->view();
}

ZGLVC& CameraWindowTest::contentOf(const Camera& camera) {
    return *controllerOf(camera)->window()->contentViewController();
}

ZVideo& CameraWindowTest::videoOf(const Camera& camera) { return *contentOf(camera).myVideo(); }

bool CameraWindowTest::waitForFrames(const Camera& camera, uint64_t count) {
    const uint64_t target = videoOf(camera).uploadedFrames() + count;
    return waitProcessingEvents(
        [&] {
            const auto bar = viewOf(camera).controlBar();
            return videoOf(camera).uploadedFrames() >= target && bar && bar->barBound();
        },
        kPatience);
}

QPoint CameraWindowTest::buttonCentre(const Camera& camera, int index) {
    ZGLView& view = viewOf(camera);
    const QRectF bound = *view.controlBar()->barBound();  // backing pixels, from the bottom
    const double sh = bound.width() / BAR_WIDTH;
    const double x =
        bound.x() + sh * (BUTTON_INTERVAL * (index + 1) + BUTTON_WIDTH * index + BUTTON_WIDTH / 2);
    const double y = bound.y() + bound.height() / 2;
    const double scale = view.backingScale();
    return QPoint(static_cast<int>(std::lround(x / scale)),
                  static_cast<int>(std::lround(view.height() - y / scale)));
}

void CameraWindowTest::click(const Camera& camera, QPoint point) {
    QTest::mouseClick(&viewOf(camera), Qt::LeftButton, Qt::NoModifier, point);
}

QImage CameraWindowTest::videoPart(const Camera& camera, const QImage& grab) {
    const ZVideo& video = videoOf(camera);
    const VideoViewport& port = video.viewport();
    const QRect rect(static_cast<int>(port.x), grab.height() - static_cast<int>(port.y + port.h),
                     static_cast<int>(port.w), static_cast<int>(port.h));
    return grab.copy(rect).scaled(static_cast<int>(video.frame_width()),
                                  static_cast<int>(video.frame_height()), Qt::IgnoreAspectRatio,
                                  Qt::SmoothTransformation);
}

int CameraWindowTest::frameNumberOnScreen(const Camera& camera) {
    const QImage grey = videoPart(camera, viewOf(camera).grabFramebuffer())
                            .convertToFormat(QImage::Format_Grayscale8);
    return readFrameNumber(grey.constBits(), static_cast<int>(grey.bytesPerLine()), grey.width(),
                           grey.height());
}

bool CameraWindowTest::seen(Camera& camera, std::string_view text) {
    return waitProcessingEvents(
        [&] { return camera.process->waitForLine(text, std::chrono::milliseconds(0)).has_value(); },
        kPatience);
}

std::optional<std::string> CameraWindowTest::nextCommand(Camera& camera) {
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

bool CameraWindowTest::waitForReleased(const Camera& camera) {
    return waitProcessingEvents([&] { return camera.wc.expired() && camera.session.expired(); },
                                kPatience);
}

}  // namespace vistamo::test
