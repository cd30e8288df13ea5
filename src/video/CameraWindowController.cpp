#include "video/CameraWindowController.h"

#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "session/CameraSession.h"
#include "video/CameraViewController.h"
#include "video/CameraWindow.h"
#include "video/VideoRenderer.h"
#include "video/VideoScanner.h"
#include "video/VideoView.h"

namespace vistamo {

void releaseSession(std::shared_ptr<CameraSession>&& session, std::shared_ptr<void> keepAlive) {
    if (!session) {
        return;
    }
    dispatch::runConcurrently(
        [session = std::move(session), keepAlive = std::move(keepAlive)]() mutable {
            session.reset();
            if (keepAlive) {
                dispatch::mainQueue().async(
                    [keepAlive = std::move(keepAlive)]() mutable { keepAlive.reset(); });
            }
        });
}

std::shared_ptr<CameraWindowController> CameraWindowController::create(
    std::shared_ptr<CameraSession> session, std::weak_ptr<VideoScanner> scanner,
    std::shared_ptr<CameraRecord> device, AudioEndpoint microphone) {
    auto controller = std::make_shared<CameraWindowController>(CreateToken{});
    controller->mScanner = std::move(scanner);
    controller->device = std::move(device);
    auto renderer = std::make_shared<VideoRenderer>();
    auto view = std::make_unique<VideoView>();
    renderer->setVideoView(view.get());
    view->setVideo(renderer);
    auto content = CameraViewController::create(std::move(renderer), *view, controller, microphone);
    controller->window_ = std::make_unique<CameraWindow>(content, view.release());
    controller->window_->wc = controller;
    content->load();
    debugLine("window did load");
    controller->byAddress_ = controller->device.expired();
    controller->attach(std::move(session));
    return controller;
}

CameraWindowController::CameraWindowController(CreateToken) {
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.callOnTimeout([this] { reconnectNow(); });
}

CameraWindowController::~CameraWindowController() {
    if (session_) {
        // The window goes after the session, on the main thread.
        if (CameraViewController* parts = content()) {
            parts->detach();
        }
        releaseSession(std::move(session_), std::shared_ptr<CameraWindow>(std::move(window_)));
    }
}

CameraWindow* CameraWindowController::window() const { return window_.get(); }

CameraViewController* CameraWindowController::content() const {
    return window_ ? window_->viewController().get() : nullptr;
}

void CameraWindowController::attach(std::shared_ptr<CameraSession> session) {
    detach();
    session_ = std::move(session);
    if (CameraViewController* parts = content(); parts && session_) {
        parts->attach(session_);
    }
}

void CameraWindowController::detach() {
    if (!session_) {
        return;
    }
    if (CameraViewController* parts = content()) {
        parts->detach();
    }
    releaseSession(std::move(session_), shared_from_this());
}

std::string CameraWindowController::cameraName() const {
    // For a window opened by address, that address. The window's own session knows it even
    // after the scanner has moved on to a later address, so it comes first; the scanner's last
    // address serves a window whose session is already gone.
    if (auto record = device.lock()) {
        return record->name().value_or(record->address().value_or(""));
    }
    if (session_ && !session_->ip().empty()) {
        return session_->ip();
    }
    // Between sessions of a window that connects again.
    if (!address_.empty()) {
        return address_;
    }
    if (auto scanner = mScanner.lock()) {
        return scanner->lastAddressSessionIp();
    }
    return {};
}

void CameraWindowController::setTitle() {
    const std::string title = localizedString("VIDEO_FROM", "Video From ") + cameraName();
    window_->setWindowTitle(QString::fromStdString(title));
}

void CameraWindowController::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

// ---- closing -----------------------------------------------------------------------------

void CameraWindowController::close() {
    debugLine("close window");
    teardown(Variant::A);
}

void CameraWindowController::windowClosing() {
    debugLine("will close");
    teardown(Variant::B);
}

void CameraWindowController::closeWindow() { teardown(Variant::C); }

void CameraWindowController::teardown(Variant variant) {
    // The scanner's list may hold the last reference; the delayed call below takes over.
    const std::shared_ptr<CameraWindowController> self = shared_from_this();
    const std::shared_ptr<VideoScanner> scanner = mScanner.lock();

    if (variant == Variant::C && scanner) {
        scanner->setIsConnected(false);
    }
    // No frame is drawn from now on; frames still being decoded are dropped on the decoder's
    // thread.
    if (CameraViewController* parts = content(); parts && parts->renderer()) {
        parts->renderer()->setBClosing(true);
    }
    if (auto record = device.lock()) {
        record->setBOccupied(false);
    }
    if (variant == Variant::A && scanner) {
        scanner->setIsConnected(false);
    }
    stopReconnecting();
    closing_ = true;
    if (session_) {
        session_->disconnect();
    }
    if (auto record = device.lock()) {
        record->setBOccupied(false);
    }
    if (scanner) {
        scanner->removeVideoWindow(*this);
        scanner->showScannerWindow();
    }
    dispatch::mainQueue().after(kDestroyDelaySeconds, [self, weakScanner = mScanner] {
        if (auto owner = weakScanner.lock()) {
            owner->destroyWindow(self);
        }
    });
}

// ---- connecting again ---------------------------------------------------------------------

bool CameraWindowController::reconnectAfter(SessionEnd why) {
    if (closing_) {
        return false;
    }
    const bool dropped = why == SessionEnd::Dropped && live_;
    const bool attemptFailed = why == SessionEnd::NeverVerified && policy_.reconnecting();
    if (!dropped && !attemptFailed) {
        if (policy_.reconnecting()) {
            logLine("connecting again to " + cameraName() + " ends: the window closes");
        }
        stopReconnecting();
        return false;
    }
    if (!policy_.reconnecting()) {
        logLine("the connection to " + cameraName() + " dropped; connecting again");
        policy_.dropped();
        if (session_) {
            address_ = session_->ip();
            typedPassword_ = session_->typedPassword();
        }
        if (auto record = device.lock(); record && record->uuid()) {
            identity_ = *record->uuid();
        }
        setReconnectingShown(true);
    }
    detach();
    scheduleReconnect();
    return true;
}

void CameraWindowController::scheduleReconnect() {
    const auto wait = policy_.nextWait();
    if (!wait) {
        const std::string name = cameraName();
        logLine("no connection to " + name + " for 5 minutes: its window closes");
        stopReconnecting();
        if (auto scanner = mScanner.lock()) {
            scanner->cameraLost(name);
        }
        if (window_) {
            window_->close();
        }
        return;
    }
    reconnectTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(*wait));
}

void CameraWindowController::reconnectNow() {
    if (closing_ || !policy_.reconnecting()) {
        return;
    }
    const auto scanner = mScanner.lock();
    std::shared_ptr<CameraRecord> record;
    if (scanner && !byAddress_) {
        record = scanner->currentRecordOf(device.lock(), identity_);
        if (!record) {
            logLine(cameraName() + " has left the network: its window closes");
        }
    }
    std::shared_ptr<CameraSession> session =
        scanner && (byAddress_ || record) ? scanner->makeSession() : nullptr;
    if (!session) {
        stopReconnecting();
        if (window_) {
            window_->close();
        }
        return;
    }
    if (record && record != device.lock()) {
        record->setBOccupied(true);
        device = record;
    }
    attach(session);
    bool started = false;
    if (byAddress_) {
        session->setIp(address_);
        session->setTypedPassword(typedPassword_);
        started = session->connectToServer(address_, false);
    } else {
        started = session->connectToServer(nullptr, record);
    }
    if (!started) {
        // Nothing will report this attempt's end: it failed now.
        detach();
        scheduleReconnect();
    }
}

void CameraWindowController::sessionLive() {
    live_ = true;
    if (policy_.reconnecting()) {
        debugLine("connected again to " + cameraName() + " after " +
                  std::to_string(policy_.attempts()) + " attempts");
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void CameraWindowController::stopReconnecting() {
    reconnectTimer_.stop();
    if (policy_.reconnecting()) {
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void CameraWindowController::setReconnectingShown(bool shown) {
    if (CameraViewController* parts = content(); parts && parts->videoView()) {
        parts->videoView()->setReconnecting(shown);
    }
}

}  // namespace vistamo
