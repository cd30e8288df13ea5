#include "video/CameraViewController.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <cmath>
#include <string>

#include "dispatch/MainQueue.h"
#include "media/MixerSound.h"
#include "media/PCMRecorder.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "session/CameraSession.h"
#include "session/CommandHeader.h"
#include "video/CameraPublishing.h"
#include "video/CameraViewOwner.h"
#include "video/ControlBar.h"
#include "video/IntercomLink.h"
#include "video/PublishDialog.h"
#include "video/VideoRenderer.h"
#include "video/VideoScanner.h"
#include "video/VideoView.h"

namespace vistamo {

namespace {

QString text(const char* key, const char* defaultText) {
    return QString::fromStdString(localizedString(key, defaultText));
}

// The bar's hit test: 0 for no button, else the button's index + 1.
constexpr int kNone = 0;

}  // namespace

// What the session sees of the window: it reports the camera's state and asks for notices and
// for the window to close. Forwards to the controller while it exists; the
// session captures it in work queued for the main thread, which may run after the window is
// gone. Main thread.
class CameraViewController::SessionLink final : public SessionView {
public:
    explicit SessionLink(std::weak_ptr<CameraViewController> controller)
        : controller_(std::move(controller)) {}

    void sessionEnded(SessionEnd why) override {
        if (auto self = controller_.lock()) {
            self->sessionEnded(why);
        }
    }
    void setFlash(bool on) override { change(&CameraState::flash, on); }
    void setScreen(bool on) override { change(&CameraState::screen, on); }
    void setAlarm(bool on) override { change(&CameraState::alarm, on); }
    void showNotice(const std::string& text) override {
        if (VideoView* view = this->view()) {
            view->showNotice(text);
        }
    }
    void recordingChanged() override {
        if (VideoView* view = this->view()) {
            view->recordingChanged();
        }
    }

private:
    void change(bool CameraState::*field, bool on) {
        if (auto self = controller_.lock()) {
            self->state_.*field = on;
            self->redrawBar();
            if (auto owner = self->owner_.lock()) {
                owner->sessionLive();
            }
        }
    }
    VideoView* view() const {
        const auto self = controller_.lock();
        return self ? self->videoView() : nullptr;
    }

    std::weak_ptr<CameraViewController> controller_;
};

std::shared_ptr<CameraViewController> CameraViewController::create(
    std::shared_ptr<VideoRenderer> video, VideoView& view, std::weak_ptr<CameraViewOwner> owner,
    AudioEndpoint microphone) {
    auto controller = std::make_shared<CameraViewController>(CreateToken{}, std::move(video), view,
                                                             std::move(owner), microphone);
    const std::weak_ptr<CameraViewController> weakSelf = controller;
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

CameraViewController::CameraViewController(CreateToken, std::shared_ptr<VideoRenderer> video,
                                           VideoView& view, std::weak_ptr<CameraViewOwner> owner,
                                           AudioEndpoint microphone)
    : recorder(std::make_shared<PCMRecorder>(microphone)),
      intercom_(std::make_shared<IntercomLink>()),
      recordQueue_(dispatch::SerialQueue::create("record queue")),
      renderer_(std::move(video)),
      videoView_(&view),
      owner_(std::move(owner)) {
    publishing_ = CameraPublishing::create([view = QPointer<VideoView>(&view)] {
        if (view) {
            view->update();
        }
    });
}

CameraViewController::~CameraViewController() {
    if (intercomOn_) {
        // The recorder may outlive the controller in work queued on "record queue"; make sure
        // it stops capturing.
        recordQueue_->async([rec = recorder] { rec->stop(); });
    }
}

void CameraViewController::load() {
    IntercomLink::attach(intercom_, *recorder);
    shutterSound = loadSound(resourcePath("shutter1.wav"));
    if (!shutterSound) {
        logLine("the shutter sound shutter1.wav could not be loaded; snapshots stay silent");
    }
}

void CameraViewController::beforeShow() {
    if (auto owner = owner_.lock()) {
        owner->setTitle();
    }
}

void CameraViewController::wasHidden() {
    stopIntercom();
    if (auto session = session_.lock()) {
        session->stopRecording();
    }
}

void CameraViewController::attach(const std::shared_ptr<CameraSession>& session) {
    detach();
    if (!session) {
        return;
    }
    const std::weak_ptr<CameraSession> weak = session;
    session_ = weak;
    session->setView(sessionLink_);
    session->addPictureSink(renderer_);
    intercom_->setSession(weak);
    publishing_->attach(session);
    if (videoView_ != nullptr) {
        videoView_->recordingOverlay().setRecordingSource([weak]() -> std::optional<double> {
            const auto owner = weak.lock();
            const auto recorder = owner ? owner->recorder() : nullptr;
            if (recorder && recorder->isRecording()) {
                return recorder->recordingSeconds();
            }
            return std::nullopt;
        });
        const std::weak_ptr<CameraPublishing> publishing = publishing_;
        videoView_->recordingOverlay().setPublishingSource([publishing] {
            const auto owner = publishing.lock();
            return owner ? owner->statusLine() : QString();
        });
        videoView_->setStatisticsSource([weak, publishing] {
            const auto link = weak.lock();
            VideoView::SessionFigures figures;
            if (link) {
                figures.decoder = link->videoStatistics();
                figures.playbackFill = link->playbackFill();
            }
            const auto owner = publishing.lock();
            if (const auto sent = owner ? owner->statistics() : std::nullopt) {
                figures.publishing =
                    VideoView::SessionFigures::Publishing{sent->bytesSent, sent->picturesDropped};
            }
            return figures;
        });
    }
}

void CameraViewController::detach() {
    // The intercom talks to the session it was started on.
    stopIntercom();
    if (auto session = session_.lock()) {
        session->setView({});
        session->removePictureSink(renderer_.get());
    }
    session_.reset();
    intercom_->setSession({});
    publishing_->detach();
    if (videoView_ != nullptr) {
        videoView_->recordingOverlay().setRecordingSource(nullptr);
        videoView_->recordingOverlay().setPublishingSource(nullptr);
        videoView_->setStatisticsSource(nullptr);
    }
}

void CameraViewController::toggleRecording() {
    if (auto session = session_.lock()) {
        session->toggleRecording();
    }
}

bool CameraViewController::isRecording() const {
    const auto session = session_.lock();
    const auto recorder = session ? session->recorder() : nullptr;
    return recorder && recorder->isRecording();
}

void CameraViewController::togglePublishing() {
    if (publishing_->isPublishing()) {
        publishing_->stop();
        return;
    }
    QWidget* window = videoView_ != nullptr ? videoView_->window() : nullptr;
    auto* dialog = new PublishDialog(
        publishing_->rememberedAddress(),
        [publishing = std::weak_ptr<CameraPublishing>(publishing_)](const std::string& address,
                                                                    std::string* fault) {
            const auto owner = publishing.lock();
            return owner && owner->start(address, fault);
        },
        window);
    runner_(*dialog, DialogModality::windowSheet);
}

bool CameraViewController::isPublishing() const { return publishing_->isPublishing(); }

// ---- clicks ------------------------------------------------------------------------------

void CameraViewController::mouseDown(QPointF point) {
    if (videoView_ == nullptr) {
        return;
    }
    const std::shared_ptr<ControlBar> bar = videoView_->controlBar();
    if (!bar) {
        return;
    }
    const qreal scale = videoView_->backingScale();
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

void CameraViewController::performButton(BarButton button) {
    const std::shared_ptr<CameraSession> session = session_.lock();
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
                if (auto codec = session->audioCodec()) {
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

std::optional<CameraViewController::FocusPoint> CameraViewController::focusPoint(QSizeF bounds,
                                                                                 double ratio,
                                                                                 QPointF point) {
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

void CameraViewController::tapFocus(QPointF point) {
    const auto focus = focusPoint(videoView_->boundsInPoints(), videoView_->ratio(), point);
    if (!focus) {
        debugLine("point is out of range");
        return;
    }
    if (auto session = session_.lock()) {
        session->sendTapFocus(focus->x, focus->y);
    }
}

void CameraViewController::switchCamera() {
    if (renderer_ && renderer_->frame_width() > kMaxSwitchWidth) {
        // A sheet on the video window; it only informs.
        QWidget* window = videoView_ != nullptr ? videoView_->window() : nullptr;
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
    if (auto session = session_.lock()) {
        session->switchCamera();
    }
}

void CameraViewController::shutter() {
    const Clock::time_point now = now_();
    if (lastShutter && now - *lastShutter <= kShutterGuard) {
        return;
    }
    lastShutter = now;
    if (shutterSound) {
        shutterSound->play();
    }
    if (auto session = session_.lock()) {
        session->takePicture();
    }

    const auto owner = owner_.lock();
    const auto scanner = owner ? owner->scanner() : nullptr;
    if (!scanner || !scanner->bHit()) {
        return;
    }
    QMessageBox alert(videoView_ != nullptr ? videoView_->window() : nullptr);
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

void CameraViewController::toggleIntercom() {
    if (intercomOn_) {
        stopIntercom();
        return;
    }
    intercomOn_ = true;
    setMuteMic(true);
    if (auto session = session_.lock()) {
        session->sendCommandTCP(CmdIntercomStart, 0);
    }
    recordQueue_->async([rec = recorder] { rec->start(); });
}

void CameraViewController::stopIntercom() {
    if (!intercomOn_) {
        return;
    }
    intercomOn_ = false;
    setMuteMic(false);
    if (auto session = session_.lock()) {
        session->sendCommandTCP(CmdIntercomStop, 0);
    }
    recordQueue_->async([rec = recorder] { rec->stop(); });
}

void CameraViewController::setMuteMic(bool on) {
    state_.muteMic = on;
    redrawBar();
}

void CameraViewController::redrawBar() {
    if (videoView_ != nullptr) {
        videoView_->update();
    }
}

// ---- closing -----------------------------------------------------------------------------

void CameraViewController::closeButton() {
    // The camera sees the connection end without a disconnect message.
    if (auto session = session_.lock()) {
        session->disconnect(CameraSession::Farewell::Omit);
    }
    if (renderer_) {
        renderer_->setBClosing(true);
    }
    const std::shared_ptr<CameraViewOwner> owner = owner_.lock();
    if (owner) {
        owner->letGoOfCamera();
    }
    // The window has left the scanner's list: this call keeps it alive until it is closed.
    dispatch::mainQueue().after(kCloseDelaySeconds,
                                [self = shared_from_this(), owner] { self->closeWindow(); });
}

void CameraViewController::closeWindow() {
    stopIntercom();
    if (auto owner = owner_.lock()) {
        owner->close();
    }
}

void CameraViewController::sessionEnded(SessionEnd why) {
    if (auto owner = owner_.lock(); owner && !owner->reconnectAfter(why)) {
        owner->close();
    }
}

}  // namespace vistamo
