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

std::shared_ptr<videoWindow> videoWindow::create() {
    auto controller = std::make_shared<videoWindow>(CreateToken{});
    auto content = ZGLVC::create();
    content->setWindowController(controller);
    controller->window_ = std::make_unique<ZVideoWindow>(content);
    content->awakeFromNib();
    content->viewDidLoad();
    controller->windowDidLoad();
    return controller;
}

videoWindow::videoWindow(CreateToken) {}

videoWindow::~videoWindow() {
    if (mClientSocket_) {
        // The window goes after the session, on the main thread.
        releaseSession(std::move(mClientSocket_),
                       std::shared_ptr<ZVideoWindow>(std::move(window_)));
    }
}

void videoWindow::windowDidLoad() { debugLine("window did load"); }

ZVideoWindow* videoWindow::window() const { return window_.get(); }

void videoWindow::setMClientSocket(std::shared_ptr<clientSocket> session) {
    std::shared_ptr<clientSocket> previous = std::exchange(mClientSocket_, std::move(session));
    releaseSession(std::move(previous), shared_from_this());
}

void videoWindow::setClient() {
    const std::shared_ptr<ZGLVC> content = window_->contentViewController();
    glVC = content;
    if (!mClientSocket_) {
        return;
    }
    ZGLView* view = content ? content->myView() : nullptr;
    mClientSocket_->setGlv(view != nullptr ? view->sessionView() : nullptr);
}

void videoWindow::setSocket() {
    vw = window_.get();
    if (vw == nullptr) {
        glVC.reset();
        return;
    }
    vw->wc = weak_from_this();
    const std::shared_ptr<ZGLVC> content = vw->contentViewController();
    glVC = content;
    if (content) {
        content->setSocket(mClientSocket_);
        content->setVideo();
    }
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
    if (auto content = glVC.lock(); content && content->myVideo()) {
        content->myVideo()->setBClosing(true);
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
