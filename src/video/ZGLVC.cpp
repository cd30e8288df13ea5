#include "video/ZGLVC.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <cmath>
#include <string>

#include "discovery/ZDeviceInfo.h"
#include "dispatch/MainQueue.h"
#include "media/MixerSound.h"
#include "media/PCMRecorder.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "session/CommandHeader.h"
#include "session/GCDAsyncSocket.h"
#include "session/clientSocket.h"
#include "video/IntercomLink.h"
#include "video/VideoScanner.h"
#include "video/ZControlBar.h"
#include "video/ZGLView.h"
#include "video/ZVideo.h"
#include "video/ZVideoWindow.h"
#include "video/videoWindow.h"

namespace vistamo {

namespace {

QString text(const char* key, const char* defaultText) {
    return QString::fromStdString(localizedString(key, defaultText));
}

// The bar's hit test: 0 for no button, else the button's index + 1.
constexpr int kNone = 0;

}  // namespace

// What the session sees of the window: it reports the camera's state and asks for the renderer,
// for notices and for the window to close. Forwards to the controller while it exists; the
// session captures it in work queued for the main thread, which may run after the window is
// gone. Main thread.
class ZGLVC::SessionLink final : public SessionView {
public:
    explicit SessionLink(std::weak_ptr<ZGLVC> controller) : controller_(std::move(controller)) {}

    std::shared_ptr<SessionRenderer> video() override {
        const auto self = controller_.lock();
        return self ? self->myVideo_ : nullptr;
    }
    void sessionEnded(SessionEnd why) override {
        if (auto self = controller_.lock()) {
            self->sessionEnded(why);
        }
    }
    void setFlash(bool on) override { change(&CameraState::flash, on); }
    void setScreen(bool on) override { change(&CameraState::screen, on); }
    void setAlarm(bool on) override { change(&CameraState::alarm, on); }
    void showNotice(const std::string& text) override {
        if (ZGLView* view = this->view()) {
            view->showNotice(text);
        }
    }
    void recordingChanged() override {
        if (ZGLView* view = this->view()) {
            view->recordingChanged();
        }
    }

private:
    void change(bool CameraState::*field, bool on) {
        if (auto self = controller_.lock()) {
            self->state_.*field = on;
            self->redrawBar();
            if (auto wc = self->windowController_.lock()) {
                wc->sessionLive();
            }
        }
    }
    ZGLView* view() const {
        const auto self = controller_.lock();
        return self ? self->myView() : nullptr;
    }

    std::weak_ptr<ZGLVC> controller_;
};

std::shared_ptr<ZGLVC> ZGLVC::create(std::shared_ptr<ZVideo> video, ZGLView& view,
                                     std::weak_ptr<videoWindow> wc, AudioEndpoint microphone) {
    auto controller =
        std::make_shared<ZGLVC>(CreateToken{}, std::move(video), view, std::move(wc), microphone);
    const std::weak_ptr<ZGLVC> weakSelf = controller;
    controller->sessionLink_ = std::make_shared<SessionLink>(weakSelf);
    view.setMouseDownHandler([weakSelf](QPointF point) {
        if (auto self = weakSelf.lock()) {
            self->mouseDown(point);
        }
    });
    view.setCameraStateSource([weakSelf] {
        const auto self = weakSelf.lock();
        return self ? self->state_ : CameraState{};
    });
    return controller;
}

ZGLVC::ZGLVC(CreateToken, std::shared_ptr<ZVideo> video, ZGLView& view,
             std::weak_ptr<videoWindow> wc, AudioEndpoint microphone)
    : recorder(std::make_shared<PCMRecorder>(microphone)),
      intercom_(std::make_shared<IntercomLink>()),
      record_queue(dispatch::SerialQueue::create("record queue")),
      myVideo_(std::move(video)),
      myView_(&view),
      windowController_(std::move(wc)) {}

ZGLVC::~ZGLVC() {
    if (intercomOn_) {
        // The recorder may outlive the controller in work queued on "record queue"; make sure
        // it stops capturing.
        record_queue->async([rec = recorder] { rec->stop(); });
    }
}

void ZGLVC::awakeFromNib() { debugLine("awake from nib"); }

void ZGLVC::viewDidLoad() {
    IntercomLink::attach(intercom_, *recorder);
    shutterSound = loadSound(resourcePath("shutter1.wav"));
    if (!shutterSound) {
        logLine("the shutter sound shutter1.wav could not be loaded; snapshots stay silent");
    }
}

void ZGLVC::viewWillAppear() {
    if (auto wc = windowController_.lock()) {
        wc->setTitle();
    }
}

void ZGLVC::viewDidDisappear() {
    stopIntercom();
    if (auto session = socket()) {
        session->stopRecording();
    }
}

void ZGLVC::attach(const std::shared_ptr<clientSocket>& session) {
    detach();
    if (!session) {
        return;
    }
    const std::weak_ptr<clientSocket> weak = session;
    session->setGlv(sessionLink_);
    session->setVideo(myVideo_);
    intercom_->setSocket(weak);
    if (myView_ != nullptr) {
        myView_->recordingOverlay().setRecordingSource([weak]() -> std::optional<double> {
            const auto owner = weak.lock();
            const auto recorder = owner ? owner->recorder() : nullptr;
            if (recorder && recorder->isRecording()) {
                return recorder->recordingSeconds();
            }
            return std::nullopt;
        });
        myView_->setStatisticsSource([weak] {
            const auto link = weak.lock();
            return link ? ZGLView::SessionFigures{link->videoStatistics(), link->playbackFill()}
                        : ZGLView::SessionFigures{};
        });
    }
}

void ZGLVC::detach() {
    // The intercom talks to the session it was started on.
    stopIntercom();
    if (auto session = socket()) {
        session->setGlv({});
        session->setVideo({});
    }
    intercom_->setSocket({});
    if (myView_ != nullptr) {
        myView_->recordingOverlay().setRecordingSource(nullptr);
        myView_->setStatisticsSource(nullptr);
    }
}

void ZGLVC::toggleRecording() {
    if (auto session = socket()) {
        session->toggleRecording();
    }
}

bool ZGLVC::isRecording() const {
    const auto session = socket();
    const auto recorder = session ? session->recorder() : nullptr;
    return recorder && recorder->isRecording();
}

std::shared_ptr<clientSocket> ZGLVC::socket() const { return intercom_->socket(); }

// ---- clicks ------------------------------------------------------------------------------

void ZGLVC::mouseDown(QPointF point) {
    if (myView_ == nullptr) {
        return;
    }
    const std::shared_ptr<ZControlBar> bar = myView_->controlBar();
    if (!bar) {
        return;
    }
    const qreal scale = myView_->backingScale();
    const int hit = bar->checkClick(QPointF(point.x() * scale, point.y() * scale));
    if (hit != kNone) {
        debugLine("n = " + std::to_string(hit - 1));
    }
    if (hit == kNone) {
        tapFocus(point);
        return;
    }
    performButton(static_cast<BarButton>(hit - 1));
}

void ZGLVC::performButton(BarButton button) {
    const std::shared_ptr<clientSocket> session = socket();
    switch (button) {
        case BarButton::Flash:
            if (session) {
                session->flashSwitch();
            }
            break;
        case BarButton::Speaker:
            if (session) {
                // The speaker's image shows the camera's screen state; the camera's sound
                // follows it.
                if (auto codec = session->OpusCodec()) {
                    if (state_.screen) {
                        codec->startPlay();
                    } else {
                        codec->stopPlay();
                    }
                }
                session->screenSwitch();
            }
            break;
        case BarButton::Alarm:
            if (session) {
                session->startMonitor(!state_.alarm);
            }
            break;
        case BarButton::Microphone:
            toggleIntercom();
            break;
        case BarButton::SwitchCamera:
            switchCamera();
            break;
        case BarButton::Close:
            closeButton();
            break;
        case BarButton::Shutter:
            shutter();
            break;
    }
}

std::optional<ZGLVC::FocusPoint> ZGLVC::focusPoint(QSizeF bounds, double ratio, QPointF point) {
    const double W = bounds.width();
    const double H = bounds.height();
    if (!(ratio > 0) || !std::isfinite(ratio) || !(W > 0) || !(H > 0)) {
        return std::nullopt;
    }
    double width = W;
    double height = W / ratio;
    double x0 = 0;
    double y0 = (H - height) * 0.5;
    if (W / H > ratio) {
        width = ratio * H;
        height = H;
        x0 = (W - width) * 0.5;
        y0 = 0;
    }
    const double px = point.x();
    const double py = point.y();
    if (!(x0 < px && px < x0 + width && y0 < py && py < y0 + height)) {
        return std::nullopt;
    }
    return FocusPoint{(px - x0) / width, 1.0 - (py - y0) / height};
}

void ZGLVC::tapFocus(QPointF point) {
    const auto focus = focusPoint(myView_->boundsInPoints(), myView_->ratio(), point);
    if (!focus) {
        debugLine("point is out of range");
        return;
    }
    if (auto session = socket()) {
        session->sendTapFocus(focus->x, focus->y);
    }
}

void ZGLVC::switchCamera() {
    if (myVideo_ && myVideo_->frame_width() > kMaxSwitchWidth) {
        // A sheet on the video window; it only informs.
        QWidget* window = myView_ != nullptr ? myView_->window() : nullptr;
        auto* alert = new QMessageBox(window);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setIcon(QMessageBox::Information);
        alert->setText(text("MESSAGE", "Message"));
        alert->setInformativeText(
            text("CANNOT_SWITCH", "The current camera resolution cannot switch to the front"));
        alert->addButton(text("OK", "OK"), QMessageBox::AcceptRole);
        runner_(*alert, DialogModality::windowSheet);
        return;
    }
    if (auto session = socket()) {
        session->switchCamera();
    }
}

void ZGLVC::shutter() {
    const Clock::time_point now = now_();
    if (lastShutter && now - *lastShutter <= kShutterGuard) {
        return;
    }
    lastShutter = now;
    if (shutterSound) {
        shutterSound->play();
    }
    if (auto session = socket()) {
        session->takePicture();
    }

    const auto wc = windowController_.lock();
    const auto scanner = wc ? wc->mScanner.lock() : nullptr;
    if (!scanner || !scanner->bHit()) {
        return;
    }
    QMessageBox alert(myView_ != nullptr ? myView_->window() : nullptr);
    alert.setIcon(QMessageBox::Information);
    alert.setText(text("PIC_SAVED", "Picture Saved"));
    alert.setInformativeText(text("SAVED_INFO", "The picture has been Saved into pictures folder"));
    const QPushButton* ok = alert.addButton(text("OK", "OK"), QMessageBox::AcceptRole);
    alert.addButton(text("NEVERSHOW", "Never Show"), QMessageBox::RejectRole);
    runner_(alert, DialogModality::application);
    // Any answer but the first button is "Never Show".
    if (alert.clickedButton() != ok) {
        scanner->setBHit(false);
        scanner->saveOptions();
    }
}

// ---- intercom ----------------------------------------------------------------------------

void ZGLVC::toggleIntercom() {
    if (intercomOn_) {
        stopIntercom();
        return;
    }
    intercomOn_ = true;
    setMuteMic(true);
    if (auto session = socket()) {
        session->sendCommandTCP(CmdIntercomStart, 0);
    }
    record_queue->async([rec = recorder] { rec->start(); });
}

void ZGLVC::stopIntercom() {
    if (!intercomOn_) {
        return;
    }
    intercomOn_ = false;
    setMuteMic(false);
    if (auto session = socket()) {
        session->sendCommandTCP(CmdIntercomStop, 0);
    }
    record_queue->async([rec = recorder] { rec->stop(); });
}

void ZGLVC::setMuteMic(bool on) {
    state_.muteMic = on;
    redrawBar();
}

void ZGLVC::redrawBar() {
    if (myView_ != nullptr) {
        myView_->update();
    }
}

// ---- closing -----------------------------------------------------------------------------

void ZGLVC::closeButton() {
    // Straight to the socket: the camera sees the connection end without a disconnect
    // message.
    if (auto session = socket()) {
        if (auto tcp = session->socket()) {
            tcp->disconnect();
        }
    }
    if (myVideo_) {
        myVideo_->setBClosing(true);
    }
    const auto wc = windowController_.lock();
    if (wc) {
        wc->stopReconnecting();
        if (auto record = wc->device.lock()) {
            record->setBOccupied(false);
        }
        if (auto scanner = wc->mScanner.lock()) {
            scanner->removeVideoWindow(*wc);
            scanner->showScannerWindow();
        }
    }
    // The window controller has left the scanner's list: this call keeps it, and so the
    // window, alive until the window is closed.
    dispatch::mainQueue().after(kCloseDelaySeconds,
                                [self = shared_from_this(), wc] { self->closeWindow(); });
}

void ZGLVC::closeWindow() {
    stopIntercom();
    closeViewWindow();
}

void ZGLVC::sessionEnded(SessionEnd why) {
    if (auto wc = windowController_.lock(); wc && wc->reconnectAfter(why)) {
        return;
    }
    closeViewWindow();
}

void ZGLVC::closeViewWindow() {
    if (myView_ == nullptr) {
        return;
    }
    // The camera window's own close, so that its controller hears of it.
    if (auto* window = qobject_cast<ZVideoWindow*>(myView_->window())) {
        window->close();
    } else {
        myView_->window()->close();
    }
}

}  // namespace vistamo
