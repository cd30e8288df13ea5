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
    controller->attach(std::move(session));
    return controller;
}

videoWindow::videoWindow(CreateToken) {}

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

}  // namespace vistamo
