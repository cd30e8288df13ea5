#include "video/CameraWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHideEvent>
#include <QKeySequence>
#include <QLayout>
#include <QMenuBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "session/CameraSession.h"
#include "settings/WindowPlaces.h"
#include "video/CameraViewController.h"
#include "video/VideoRenderer.h"
#include "video/VideoScanner.h"
#include "video/VideoView.h"
#include "webcam/CameraWebcam.h"

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

std::shared_ptr<CameraWindow> CameraWindow::create(std::shared_ptr<CameraSession> session,
                                                   std::weak_ptr<VideoScanner> scanner,
                                                   std::shared_ptr<CameraRecord> device,
                                                   AudioEndpoint microphone) {
    auto window = std::make_shared<CameraWindow>(CreateToken{});
    window->scanner_ = std::move(scanner);
    window->device = std::move(device);
    auto renderer = std::make_shared<VideoRenderer>();
    auto* view = new VideoView(window.get());
    view->setVideo(renderer);
    window->view_ = view;
    window->viewController_ = CameraViewController::create(
        std::move(renderer), *view, std::weak_ptr<CameraViewOwner>(window), microphone);

    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    window->resize(kInitialWidth, kInitialHeight);
    view->setDoubleClickHandler([raw = window.get()] { raw->toggleFullScreen(); });
    window->addKeys();

    window->viewController_->load();
    debugLine("window did load");
    window->byAddress_ = window->device.expired();
    window->attach(std::move(session));
    window->applyWebcamChoice();
    return window;
}

void CameraWindow::applyWebcamChoice() {
    const std::shared_ptr<VideoScanner> owner = scanner_.lock();
    const std::string identity = cameraIdentity();
    if (!usesWebcam() && owner && !identity.empty() && owner->webcamChosen(identity)) {
        setUsesWebcam(true);
    }
}

CameraWindow::CameraWindow(CreateToken) {
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.callOnTimeout([this] { reconnectNow(); });
}

CameraWindow::~CameraWindow() {
    if (session_) {
        viewController_->detach();
        // The view controller and its renderer go after the session, on the main thread; the
        // view goes with the window now, and the renderer no longer draws into it.
        releaseSession(std::move(session_), std::move(viewController_));
    }
}

void CameraWindow::addKeys() {
    const auto addKey = [this](const QKeySequence& sequence, auto handler) {
        auto* key = new QAction(this);
        key->setShortcut(sequence);
        key->setShortcutContext(Qt::WindowShortcut);
        connect(key, &QAction::triggered, this, handler);
        addAction(key);
    };
    for (const BarButtonKey& entry : kBarButtonKeys) {
        if (entry.key != 0) {
            addKey(QKeySequence(entry.key),
                   [this, button = entry.button] { viewController_->performButton(button); });
        }
    }
    addKey(QKeySequence(Qt::Key_R), [this] { viewController_->toggleRecording(); });
    addKey(QKeySequence(Qt::Key_W), [this] { toggleWebcam(); });
    addKey(QKeySequence(Qt::Key_F11), [this] { toggleFullScreen(); });
    addKey(QKeySequence(Qt::Key_Escape), [this] {
        if (isFullScreen()) {
            toggleFullScreen();
        }
    });
}

void CameraWindow::toggleFullScreen() { setWindowState(windowState() ^ Qt::WindowFullScreen); }

void CameraWindow::setMenuBar(QMenuBar* bar) {
    if (bar != nullptr && layout() != nullptr) {
        layout()->setMenuBar(bar);
    }
}

void CameraWindow::attach(std::shared_ptr<CameraSession> session) {
    detach();
    session_ = std::move(session);
    if (viewController_ && session_) {
        viewController_->attach(session_);
    }
    if (webcam_ && session_) {
        session_->addPictureSink(webcam_->video());
        session_->addSoundSink(webcam_->microphone());
    }
    if (session_) {
        for (const auto& sink : pictureSinks_) {
            session_->addPictureSink(sink);
        }
    }
}

void CameraWindow::detach() {
    if (!session_) {
        return;
    }
    if (viewController_) {
        viewController_->detach();
    }
    if (webcam_) {
        session_->removePictureSink(webcam_->video().get());
        session_->removeSoundSink(webcam_->microphone().get());
    }
    for (const auto& sink : pictureSinks_) {
        if (auto reader = sink.lock()) {
            session_->removePictureSink(reader.get());
        }
    }
    releaseSession(std::move(session_), shared_from_this());
}

std::string CameraWindow::cameraIdentity() const {
    if (auto record = device.lock(); record && record->uuid()) {
        return WindowPlaces::identityFor(record->uuid(), std::nullopt).value_or("");
    }
    std::string address = address_;
    if (session_ && !session_->ip().empty()) {
        address = session_->ip();
    } else if (auto record = device.lock(); record && address.empty()) {
        address = record->address().value_or("");
    }
    return WindowPlaces::identityFor(std::nullopt, address).value_or("");
}

void CameraWindow::setUsesWebcam(bool on) {
    if (on == usesWebcam()) {
        return;
    }
    const std::shared_ptr<VideoScanner> owner = scanner_.lock();
    const std::string identity = cameraIdentity();
    if (!on) {
        if (session_) {
            session_->removePictureSink(webcam_->video().get());
            session_->removeSoundSink(webcam_->microphone().get());
        }
        webcam_.reset();
    } else {
        auto connection = owner ? owner->webcamConnection() : nullptr;
        if (!connection) {
            return;
        }
        webcam_ = std::make_unique<CameraWebcam>(
            std::move(connection), identity.empty() ? cameraName() : identity, cameraName());
        if (session_) {
            session_->addPictureSink(webcam_->video());
            session_->addSoundSink(webcam_->microphone());
        }
    }
    if (owner && !identity.empty()) {
        owner->setWebcamChosen(identity, on);
    }
}

void CameraWindow::addPictureSink(std::weak_ptr<PictureSink> sink) {
    if (session_) {
        session_->addPictureSink(sink);
    }
    pictureSinks_.push_back(std::move(sink));
}

void CameraWindow::removePictureSink(const PictureSink* sink) {
    if (session_) {
        session_->removePictureSink(sink);
    }
    std::erase_if(pictureSinks_, [sink](const auto& entry) {
        const auto reader = entry.lock();
        return !reader || reader.get() == sink;
    });
}

std::string CameraWindow::cameraName() const {
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
    if (auto owner = scanner_.lock()) {
        return owner->lastAddressSessionIp();
    }
    return {};
}

void CameraWindow::setTitle() {
    const std::string title = localizedString("VIDEO_FROM", "Video From ") + cameraName();
    setWindowTitle(QString::fromStdString(title));
}

void CameraWindow::showWindow() {
    show();
    raise();
    activateWindow();
}

void CameraWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        viewController_->beforeShow();
    }
}

void CameraWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimising hides the window spontaneously; only a window that goes away stops the
    // intercom.
    if (!event->spontaneous()) {
        viewController_->wasHidden();
    }
}

// ---- closing -----------------------------------------------------------------------------

void CameraWindow::close() {
    // Keeps the window alive through both runs: the first may take it out of the scanner's
    // list.
    const std::shared_ptr<CameraWindow> self = shared_from_this();
    inClose_ = true;
    QWidget::close();
    inClose_ = false;
    teardown(Closing::Done);
}

void CameraWindow::closeEvent(QCloseEvent* event) {
    if (hidesOnClose_ && !inClose_) {
        debugLine("window hidden; its camera stays connected");
        event->accept();  // hides the window, and that is all
        return;
    }
    debugLine("window will close");
    debugLine("will close");
    teardown(Closing::Now);
    if (!inClose_) {
        teardown(Closing::Done);
    }
    event->accept();
}

void CameraWindow::letGoOfCamera() {
    stopReconnecting();
    if (auto record = device.lock()) {
        record->setBOccupied(false);
    }
    if (auto owner = scanner_.lock()) {
        owner->removeVideoWindow(*this);
        owner->showScannerWindow();
    }
}

void CameraWindow::teardown(Closing step) {
    // The scanner's list may hold the last reference; the delayed call below takes over.
    const std::shared_ptr<CameraWindow> self = shared_from_this();
    const std::shared_ptr<VideoScanner> owner = scanner_.lock();

    if (step == Closing::Done && owner) {
        owner->setIsConnected(false);
    }
    // No frame is drawn from now on; frames still being decoded are dropped on the decoder's
    // thread.
    if (viewController_ && viewController_->renderer()) {
        viewController_->renderer()->setBClosing(true);
    }
    stopReconnecting();
    closing_ = true;
    if (session_) {
        session_->disconnect();
        if (webcam_) {
            session_->removePictureSink(webcam_->video().get());
            session_->removeSoundSink(webcam_->microphone().get());
        }
    }
    // The devices go with the window; the choice stays for its next opening.
    webcam_.reset();
    if (auto record = device.lock()) {
        record->setBOccupied(false);
    }
    if (owner) {
        owner->removeVideoWindow(*this);
        owner->showScannerWindow();
    }
    dispatch::mainQueue().after(kDestroyDelaySeconds, [self, weakScanner = scanner_] {
        if (auto scanner = weakScanner.lock()) {
            scanner->destroyWindow(self);
        }
    });
}

// ---- connecting again ---------------------------------------------------------------------

bool CameraWindow::reconnectAfter(SessionEnd why) {
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

void CameraWindow::scheduleReconnect() {
    const auto wait = policy_.nextWait();
    if (!wait) {
        const std::string name = cameraName();
        logLine("no connection to " + name + " for 5 minutes: its window closes");
        stopReconnecting();
        if (auto owner = scanner_.lock()) {
            owner->cameraLost(name);
        }
        close();
        return;
    }
    reconnectTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(*wait));
}

void CameraWindow::reconnectNow() {
    if (closing_ || !policy_.reconnecting()) {
        return;
    }
    const auto owner = scanner_.lock();
    std::shared_ptr<CameraRecord> record;
    if (owner && !byAddress_) {
        record = owner->currentRecordOf(device.lock(), identity_);
        if (!record) {
            logLine(cameraName() + " has left the network: its window closes");
        }
    }
    std::shared_ptr<CameraSession> session =
        owner && (byAddress_ || record) ? owner->makeSession() : nullptr;
    if (!session) {
        stopReconnecting();
        close();
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

void CameraWindow::sessionLive() {
    live_ = true;
    // The camera's state may have told its identity only now.
    applyWebcamChoice();
    if (policy_.reconnecting()) {
        debugLine("connected again to " + cameraName() + " after " +
                  std::to_string(policy_.attempts()) + " attempts");
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void CameraWindow::stopReconnecting() {
    reconnectTimer_.stop();
    if (policy_.reconnecting()) {
        policy_.succeeded();
        setReconnectingShown(false);
    }
}

void CameraWindow::setReconnectingShown(bool shown) {
    if (view_ != nullptr) {
        view_->setReconnecting(shown);
    }
}

}  // namespace vistamo
