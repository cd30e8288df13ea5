#include "video/videoWindow.h"

#include "discovery/ZDeviceInfo.h"
#include "dispatch/MainQueue.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "session/clientSocket.h"
#include "video/VideoScanner.h"
#include "video/ZGLVC.h"
#include "video/ZGLView.h"
#include "video/ZVideo.h"
#include "video/ZVideoWindow.h"

namespace vistamo {

void releaseSession(std::shared_ptr<clientSocket>&& session, std::shared_ptr<void> keepAlive) {
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

std::shared_ptr<videoWindow> videoWindow::create(std::shared_ptr<clientSocket> session,
                                                 std::weak_ptr<VideoScanner> scanner,
                                                 std::shared_ptr<ZDeviceInfo> device,
                                                 AudioEndpoint microphone) {
    auto controller = std::make_shared<videoWindow>(CreateToken{});
    controller->mScanner = std::move(scanner);
    controller->device = std::move(device);
    auto renderer = std::make_shared<ZVideo>();
    auto view = std::make_unique<ZGLView>();
    renderer->setMyView(view.get());
    view->setVideo(renderer);
    auto content = ZGLVC::create(std::move(renderer), *view, controller, microphone);
    controller->window_ = std::make_unique<ZVideoWindow>(content, view.release());
    controller->window_->wc = controller;
    content->awakeFromNib();
    content->viewDidLoad();
    controller->windowDidLoad();
    controller->byAddress_ = controller->device.expired();
    controller->attach(std::move(session));
    return controller;
}

videoWindow::videoWindow(CreateToken) {
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.callOnTimeout([this] { reconnectNow(); });
}

videoWindow::~videoWindow() {
    if (mClientSocket_) {
        // The window goes after the session, on the main thread.
        if (ZGLVC* parts = content()) {
            parts->detach();
        }
        releaseSession(std::move(mClientSocket_),
                       std::shared_ptr<ZVideoWindow>(std::move(window_)));
    }
}

void videoWindow::windowDidLoad() { debugLine("window did load"); }

ZVideoWindow* videoWindow::window() const { return window_.get(); }

ZGLVC* videoWindow::content() const {
    return window_ ? window_->contentViewController().get() : nullptr;
}

void videoWindow::attach(std::shared_ptr<clientSocket> session) {
    detach();
    mClientSocket_ = std::move(session);
    if (ZGLVC* parts = content(); parts && mClientSocket_) {
        parts->attach(mClientSocket_);
    }
}

void videoWindow::detach() {
    if (!mClientSocket_) {
        return;
    }
    if (ZGLVC* parts = content()) {
        parts->detach();
    }
    releaseSession(std::move(mClientSocket_), shared_from_this());
}

std::string videoWindow::cameraName() const {
    // For a window opened by address, that address. The window's own session knows it even
    // after the scanner has moved on to a later address, so it comes first; the scanner's last
    // address serves a window whose session is already gone.
    if (auto record = device.lock()) {
        return record->mDeviceName().value_or(record->mDeviceIP().value_or(""));
    }
    if (mClientSocket_ && !mClientSocket_->ip().empty()) {
        return mClientSocket_->ip();
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

void videoWindow::setTitle() {
    const std::string title = localizedString("VIDEO_FROM", "Video From ") + cameraName();
    window_->setWindowTitle(QString::fromStdString(title));
}

void videoWindow::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

// ---- closing -----------------------------------------------------------------------------

void videoWindow::close() {
    debugLine("close window");
    teardown(Variant::A);
}

void videoWindow::windowWillClose() {
    debugLine("will close");
    teardown(Variant::B);
}

void videoWindow::closeWindow() { teardown(Variant::C); }

void videoWindow::teardown(Variant variant) {
    // The scanner's list may hold the last reference; the delayed call below takes over.
    const std::shared_ptr<videoWindow> self = shared_from_this();
    const std::shared_ptr<VideoScanner> scanner = mScanner.lock();

    if (variant == Variant::C && scanner) {
        scanner->setIsConnected(false);
    }
    // No frame is drawn from now on; frames still being decoded are dropped on the decoder's
    // thread.
    if (ZGLVC* parts = content(); parts && parts->myVideo()) {
        parts->myVideo()->setBClosing(true);
    }
    if (auto record = device.lock()) {
        record->setBOccupied(false);
    }
    if (variant == Variant::A && scanner) {
        scanner->setIsConnected(false);
    }
    stopReconnecting();
    closing_ = true;
    if (mClientSocket_) {
        mClientSocket_->disconnect();
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
            owner->destroyWindowWithWc(self);
        }
    });
}

// ---- connecting again ---------------------------------------------------------------------

bool videoWindow::reconnectAfter(SessionEnd why) {
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
        if (mClientSocket_) {
            address_ = mClientSocket_->ip();
            typedPassword_ = mClientSocket_->typedPassword();
        }
        if (auto record = device.lock(); record && record->mUUID()) {
            identity_ = *record->mUUID();
        }
        setReconnectingShown(true);
    }
    detach();
    scheduleReconnect();
    return true;
}

void videoWindow::scheduleReconnect() {
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

void videoWindow::reconnectNow() {
    if (closing_ || !policy_.reconnecting()) {
        return;
    }
    const auto scanner = mScanner.lock();
    std::shared_ptr<ZDeviceInfo> record;
    if (scanner && !byAddress_) {
        record = scanner->currentRecordOf(device.lock(), identity_);
        if (!record) {
            logLine(cameraName() + " has left the network: its window closes");
        }
    }
    std::shared_ptr<clientSocket> session =
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

void videoWindow::sessionLive() {
    live_ = true;
    if (policy_.reconnecting()) {
        debugLine("connected again to " + cameraName() + " after " +
                  std::to_string(policy_.attempts()) + " attempts");
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void videoWindow::stopReconnecting() {
    reconnectTimer_.stop();
    if (policy_.reconnecting()) {
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void videoWindow::setReconnectingShown(bool shown) {
    if (ZGLVC* parts = content(); parts && parts->myView()) {
        parts->myView()->setReconnecting(shown);
    }
}

}  // namespace vistamo
