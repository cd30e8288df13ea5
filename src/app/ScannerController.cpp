#include "app/ScannerController.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QThread>
#include <QToolButton>
#include <algorithm>

#include "app/LocalCameraPreview.h"
#include "app/QtDeviceButton.h"
#include "app/RadarView.h"
#include "app/WatermarkCanvas.h"
#include "app/WindowPlacement.h"
#include "discovery/CameraFinder.h"
#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "media/ClipRecorder.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "session/CameraSession.h"
#include "settings/PasswordStore.h"
#include "video/CameraWindow.h"
#include "video/QtSessionDialogs.h"
#include "video/SessionPartsFactory.h"
#include "webcam/PipeWireConnection.h"
#include "workspace/LinuxWorkspace.h"

namespace vistamo {

namespace {

// Any well-known host serves: the watcher judges the local network as a whole.
constexpr const char* kReachabilityHost = "www.example.com";
constexpr int kRadarIntervalMs = 20;
constexpr double kReleaseDelaySeconds = 0.3;
constexpr int kStatusMargin = 20;
constexpr int kStatusHeight = 40;
constexpr int kCentreButtonSize = 80;
constexpr int kControlMargin = 8;

// A grid's session asks for no password itself: it tells the grid, whose tile then asks on a
// double-click. Main thread, as sessions call their dialogs.
class PasswordNeededDialogs final : public SessionDialogs {
public:
    explicit PasswordNeededDialogs(std::function<void()> passwordNeeded)
        : passwordNeeded_(std::move(passwordNeeded)) {}
    std::optional<std::string> askPassword() override {
        if (passwordNeeded_) {
            passwordNeeded_();
        }
        return std::nullopt;
    }

private:
    const std::function<void()> passwordNeeded_;
};

// The scanner's view: it reports its size changes so that the scanner can lay it out.
class ScannerView final : public QWidget {
public:
    explicit ScannerView(std::function<void()> layout) : layout_(std::move(layout)) {}

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (layout_) {
            layout_();
        }
    }

private:
    std::function<void()> layout_;
};

QToolButton* makeControl(QWidget* parent, const QString& text) {
    auto* control = new QToolButton(parent);
    control->setText(text);
    control->setAutoRaise(true);
    control->setFocusPolicy(Qt::NoFocus);
    control->adjustSize();
    return control;
}

}  // namespace

std::shared_ptr<ScannerController> ScannerController::create(Environment environment) {
    return std::shared_ptr<ScannerController>(new ScannerController(std::move(environment)));
}

ScannerController::ScannerController(Environment environment)
    : environment_(std::move(environment)),
      config_(std::make_unique<PasswordStore>()),
      discoveryHost_(std::make_unique<ScannerDiscoveryHost>(
          config_.get(),
          ScannerDiscoveryHost::Hooks{
              .clicked =
                  [this](const std::shared_ptr<CameraRecord>& camera, QtDeviceButton& clicked) {
                      // Not after the host, which the scanner outlives.
                      connectToButton(camera, clicked);
                  },
              .cover = [this] { return static_cast<QWidget*>(filterView_.data()); },
          })),
      sessionHost_(std::make_unique<ScannerSessionHost>(
          options_, config_.get(), std::make_shared<LinuxWorkspace>(),
          AlarmDispatcher::Hooks{
              .bringWindowsForward = [this] { bringWindowsForward(); },
              .windowOf =
                  [this](const std::weak_ptr<CameraSession>& session) {
                      return alarmedWindowOf(session);
                  },
              .alarmed =
                  [this](const std::weak_ptr<CameraSession>& session) {
                      // The grid frames the camera's tile.
                      if (const auto alarmed = alarmedWindowOf(session); alarmed && grid_) {
                          grid_->showAlarmOf(alarmed->window);
                      }
                  },
          })),
      dialogs_(std::make_unique<ScannerDialogs>(*this)),
      hostReachability_(Reachability::forHostName(kReachabilityHost)) {
    radarTimer_.setInterval(kRadarIntervalMs);
    connect(&radarTimer_, &QTimer::timeout, this, [this] { refreshRadar(); });
}

ScannerController::~ScannerController() {
    radarTimer_.stop();
    // The buttons hide and hand their widgets to the view for deletion while it is there.
    discoveryHost_->dropButtons();
    finder_.reset();
}

QWidget* ScannerController::makeView() {
    if (view_) {
        return view_.data();
    }
    auto* view = new ScannerView([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) {
            self->layOut();
        }
    });
    view_ = view;
    view->setMinimumSize(320, 240);

    radia_ = new RadarView(view);

    computer_ = new QPushButton(view);
    computer_->setFlat(true);
    computer_->setFocusPolicy(Qt::NoFocus);
    computer_->resize(kCentreButtonSize, kCentreButtonSize);
    // This computer, at the centre of the radar: the application's icon.
    const QPixmap icon(QString::fromStdString(resourcePath("vistamo.png")));
    if (!icon.isNull()) {
        computer_->setIcon(QIcon(icon));
        computer_->setIconSize(icon.size().scaled(kCentreButtonSize - 16, kCentreButtonSize - 16,
                                                  Qt::KeepAspectRatio));
    }
    computer_->setToolTip(QStringLiteral("This computer"));

    statusLine_ = new QLabel(view);
    statusLine_->setAlignment(Qt::AlignCenter);
    statusLine_->setTextFormat(Qt::PlainText);

    addCameraButton_ = makeControl(view, QStringLiteral("Add Camera…"));
    connect(addCameraButton_, &QToolButton::clicked, this, [this] { showAddCamera(); });
    optionButton_ = makeControl(view, QStringLiteral("Options…"));
    connect(optionButton_, &QToolButton::clicked, this, [this] { showOptions(); });
    discoveryHost_->attach(view, statusLine_);

    layOut();
    return view;
}

void ScannerController::load() {
    if (radia_) {
        radia_->resetRadar();
    }
    radarTimer_.start();

    loadOrCreateOptions(options_);
    publishOptions();
    windowPlaces_ = WindowPlaces::load();
    webcamChoices_ = loadWebcamChoices();

    if (hostReachability_) {
        hostReachability_->startNotifier();
        netState_ = hostReachability_->currentReachabilityStatus();
    }
    updateForReachability(hostReachability_);
    // Discovery only when the network is there now; it is not started later.
    if (netState_ && *netState_ != NotReachable) {
        finder_ = CameraFinder::init();
        finder_->setScanner(
            std::shared_ptr<DiscoveryHost>(shared_from_this(), discoveryHost_.get()));
        finder_->setNetStatus(*netState_);
    } else {
        logLine("the network is not reachable: cameras are not searched for");
    }

    if (environment_.registerAsMainWindow) {
        environment_.registerAsMainWindow(shared_from_this());
    }
}

void ScannerController::wasShown() {
    // Reset on every return, with or without the local camera preview over it.
    if (radia_) {
        radia_->resetRadar();
    }
    if (finder_) {
        finder_->startScan();
    }
}

void ScannerController::layOut() {
    if (!view_) {
        return;
    }
    const int width = view_->width();
    const int height = view_->height();
    if (filterView_) {
        filterView_->setGeometry(0, 0, width, height);
    }
    if (radia_) {
        radia_->setGeometry(0, 0, width, height);
    }
    if (computer_) {
        computer_->move((width - computer_->width()) / 2, (height - computer_->height()) / 2);
    }
    if (statusLine_) {
        // (20, 20, width - 40, 40) from the bottom left.
        statusLine_->setGeometry(kStatusMargin, height - kStatusMargin - kStatusHeight,
                                 std::max(0, width - 2 * kStatusMargin), kStatusHeight);
    }
    int right = width - kControlMargin;
    for (QToolButton* control : {optionButton_.data(), addCameraButton_.data()}) {
        if (control != nullptr) {
            right -= control->width();
            control->move(right, kControlMargin);
            right -= kControlMargin;
        }
    }
    discoveryHost_->placeButtons(height);
}

RadarView* ScannerController::radia() const { return radia_.data(); }

void ScannerController::refreshRadar() {
    if (radia_) {
        radia_->update();
    }
}

void ScannerController::hideScannerWindow() {
    if (window_) {
        window_->hide();
    }
}

void ScannerController::showScannerWindow() {
    if (window_) {
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
}

// ---- opening cameras ---------------------------------------------------------------------

std::shared_ptr<CameraSession> ScannerController::makeSession() {
    auto session = CameraSession::init(makeSessionParts());
    session->setScanner(std::shared_ptr<SessionScanner>(shared_from_this(), sessionHost_.get()));
    return session;
}

std::shared_ptr<CameraRecord> ScannerController::currentRecordOf(
    const std::shared_ptr<CameraRecord>& known, const std::string& identity) {
    if (!finder_) {
        return known;
    }
    const auto& list = finder_->records();
    for (const auto& record : list) {
        if (known && record == known) {
            return record;
        }
    }
    if (identity.empty()) {
        return nullptr;
    }
    for (const auto& record : list) {
        if (record->uuid() == identity) {
            return record;
        }
    }
    return nullptr;
}

void ScannerController::cameraLost(const std::string& cameraName) {
    sessionHost_->notifyCameraLost(cameraName, window_.data());
}

std::shared_ptr<CameraWindow> ScannerController::openVideoWindow(
    const std::shared_ptr<CameraSession>& session, const std::shared_ptr<CameraRecord>& device,
    const std::function<void()>& connect, WindowShown shown) {
    auto window = CameraWindow::create(session, weak_from_this(), device);
    if (environment_.makeMenuBar) {
        window->setMenuBar(environment_.makeMenuBar(window.get()));
    }
    std::erase_if(openedWindows_, [](const auto& opened) { return opened.isNull(); });
    openedWindows_.emplace_back(window.get());
    videoWindowList_.push_back(window);
    window->number = static_cast<int32_t>(videoWindowList_.size());
    connect();
    placeVideoWindow(*window);
    isConnected_ = true;
    if (shown == WindowShown::Hidden) {
        window->setHidesOnClose(true);
        return window;
    }
    window->raise();
    window->activateWindow();
    window->showWindow();
    openWindow_ = window;
    return window;
}

void ScannerController::connectToAddress(const std::string& address) {
    // The grid may keep this address's camera connected already, in a hidden window.
    for (const auto& window : videoWindowList_) {
        if (window->hidesOnClose() && window->device.expired() && window->session() &&
            window->session()->ip() == address) {
            window->showWindow();
            return;
        }
    }
    hideScannerWindow();
    auto session = makeSession();
    if (session_) {
        releaseSession(std::move(session_));
    }
    session->setIp(address);
    session_ = session;
    if (std::find(typedAddresses_.begin(), typedAddresses_.end(), address) ==
        typedAddresses_.end()) {
        typedAddresses_.push_back(address);
    }
    openVideoWindow(session, nullptr, [&] { session->connectToServer(address); });
}

void ScannerController::connectToButton(const std::shared_ptr<CameraRecord>& record,
                                        QtDeviceButton& button) {
    if (bButtonDown_ || !finder_) {
        return;
    }
    if (!finder_->isListed(record)) {
        // A stale button: the list is rebuilt by discovery, and every listed camera's button
        // goes with it.
        logLine("a camera button outlived its camera; the camera list starts anew");
        // Held until the end: emptying the list may take this button off the view too.
        std::shared_ptr<QtDeviceButton> keep;
        for (const auto& entry : discoveryHost_->buttons()) {
            if (entry.get() == &button) {
                keep = entry;
            }
        }
        bButtonDown_ = false;
        finder_->removeAllDevices();
        discoveryHost_->removeButton(button);
        return;
    }
    if (record->bOccupied()) {
        if (!raiseVideoWindowOf(record)) {
            logLine("the camera is busy opening; its window is not there yet");
        }
        return;
    }
    hideScannerWindow();
    record->setBOccupied(true);
    auto session = makeSession();
    if (session_) {
        releaseSession(std::move(session_));
    }
    openVideoWindow(session, record,
                    [&] { session->connectToServer(static_cast<const void*>(&button), record); });
}

bool ScannerController::raiseVideoWindowOf(const std::shared_ptr<CameraRecord>& device) {
    for (const auto& window : videoWindowList_) {
        if (window->device.lock() == device) {
            window->showWindow();
            return true;
        }
    }
    return false;
}

void ScannerController::restoreButton(const std::shared_ptr<CameraWindow>& window) {
    if (!window) {
        return;
    }
    if (auto record = window->device.lock()) {
        record->setBOccupied(false);
    }
    removeVideoWindow(*window);
    showScannerWindow();
}

void ScannerController::removeVideoWindow(const CameraWindow& window) {
    const auto erased =
        std::erase_if(videoWindowList_, [&](const auto& entry) { return entry.get() == &window; });
    // The first removal is the window's closing; later ones repeat it.
    if (erased > 0) {
        rememberVideoWindowPlace(window);
    }
}

std::optional<std::string> ScannerController::windowIdentity(const CameraWindow& window) {
    if (auto record = window.device.lock()) {
        return WindowPlaces::identityFor(record->uuid(), record->address());
    }
    if (const auto& session = window.session()) {
        return WindowPlaces::identityFor(std::nullopt, session->ip());
    }
    return std::nullopt;
}

void ScannerController::placeVideoWindow(CameraWindow& window) {
    const auto identity = windowIdentity(window);
    if (!identity) {
        return;
    }
    if (const auto frame = windowPlaces_.frameFor(*identity)) {
        window.setGeometry(placeOnDesktop(QRect(frame->x, frame->y, frame->width, frame->height)));
    }
}

void ScannerController::rememberVideoWindowPlace(const CameraWindow& window) {
    if (window.windowHandle() == nullptr) {
        return;  // never shown: a grid's tile that was never opened as a window
    }
    const auto identity = windowIdentity(window);
    if (!identity) {
        return;
    }
    // A window closed in full screen opens again as it was before.
    const QRect frame = window.isFullScreen() ? window.normalGeometry() : window.geometry();
    windowPlaces_.setFrame(*identity, {frame.x(), frame.y(), frame.width(), frame.height()});
    windowPlaces_.save();
}

void ScannerController::destroyWindow(const std::shared_ptr<CameraWindow>& window) {
    if (!window) {
        return;
    }
    removeVideoWindow(*window);
    window->detach();
}

void ScannerController::releaseWindow(const std::shared_ptr<CameraWindow>& window) {
    dispatch::mainQueue().after(kReleaseDelaySeconds, [weakSelf = weak_from_this(), window] {
        if (auto self = weakSelf.lock()) {
            self->destroyWindow(window);
        }
    });
}

void ScannerController::closeAllVideoWindows(std::chrono::milliseconds limit) {
    if (grid_) {
        grid_->close();
        delete grid_.data();
    }
    for (const auto& window : std::vector(videoWindowList_)) {
        window->close();
    }
    videoWindowList_.clear();
    openWindow_.reset();
    if (session_) {
        releaseSession(std::move(session_));
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    const auto anyLeft = [this] {
        return std::any_of(openedWindows_.begin(), openedWindows_.end(),
                           [](const auto& window) { return !window.isNull(); });
    };
    // Recordings of the closed windows are finished on their writers' threads meanwhile.
    while ((anyLeft() || ClipRecorder::filesBeingWritten() > 0) &&
           std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    if (anyLeft()) {
        debugLine("a camera window was still closing when the application ended");
    }
}

std::string ScannerController::lastAddressSessionIp() const {
    return session_ ? session_->ip() : std::string();
}

// ---- camera grid -------------------------------------------------------------------------

void ScannerController::showCameraGrid() {
    const GridPlace place = GridPlace::readFrom(windowPlaces_);
    if (!grid_) {
        CameraGridWindow::Hooks hooks{
            .cameras = [this] { return gridCameras(); },
            .windowFor =
                [this](const GridCamera& camera, std::function<void()> passwordNeeded) {
                    return windowForGrid(camera, std::move(passwordNeeded));
                },
            .askPassword = [](const GridCamera&) { return QtSessionDialogs().askPassword(); },
            .letGo =
                [this](const std::shared_ptr<CameraWindow>& window) { releaseGridWindow(window); },
            .remember =
                [this](const GridPlace& closed) {
                    closed.writeTo(windowPlaces_);
                    windowPlaces_.save();
                },
        };
        grid_ = new CameraGridWindow(std::move(hooks), environment_.makeMenuBar
                                                           ? environment_.makeMenuBar(nullptr)
                                                           : nullptr);
        grid_->setAttribute(Qt::WA_DeleteOnClose);
        if (place.frame) {
            grid_->setGeometry(placeOnDesktop(
                QRect(place.frame->x, place.frame->y, place.frame->width, place.frame->height)));
        }
    }
    grid_->open(place.layout);
}

std::shared_ptr<CameraWindow> ScannerController::windowForGrid(
    const GridCamera& camera, std::function<void()> passwordNeeded) {
    for (const auto& window : videoWindowList_) {
        const bool same = camera.record ? window->device.lock() == camera.record
                                        : window->device.expired() && window->session() &&
                                              window->session()->ip() == camera.address;
        if (same) {
            return window;
        }
    }
    if (camera.record &&
        (camera.record->bOccupied() || !finder_ || !finder_->isListed(camera.record))) {
        return nullptr;  // its window is on its way, or the camera is gone
    }
    SessionParts parts = makeSessionParts();
    parts.dialogs = std::make_shared<PasswordNeededDialogs>(std::move(passwordNeeded));
    auto session = CameraSession::init(std::move(parts));
    session->setScanner(std::shared_ptr<SessionScanner>(shared_from_this(), sessionHost_.get()));
    if (camera.record) {
        if (!camera.typedPassword.empty()) {
            camera.record->setPassword(camera.typedPassword);
        }
        camera.record->setBOccupied(true);
        return openVideoWindow(
            session, camera.record,
            [&] { session->connectToServer(static_cast<const void*>(this), camera.record); },
            WindowShown::Hidden);
    }
    session->setIp(camera.address);
    session->setTypedPassword(camera.typedPassword);
    return openVideoWindow(
        session, nullptr, [&] { session->connectToServer(camera.address, false); },
        WindowShown::Hidden);
}

void ScannerController::releaseGridWindow(const std::shared_ptr<CameraWindow>& window) {
    if (!window) {
        return;
    }
    window->setHidesOnClose(false);
    if (!window->isVisible()) {
        window->close();
    }
}

std::vector<GridCamera> ScannerController::gridCameras() const {
    std::vector<GridCamera> cameras;
    if (finder_) {
        for (const auto& record : finder_->records()) {
            const auto identity = WindowPlaces::identityFor(record->uuid(), record->address());
            if (!identity || !record->address()) {
                continue;
            }
            cameras.push_back(GridCamera{*identity,
                                         record->name().value_or(*record->address()),
                                         record,
                                         *record->address(),
                                         {}});
        }
    }
    for (const std::string& address : typedAddresses_) {
        const bool discovered =
            std::any_of(cameras.begin(), cameras.end(),
                        [&](const auto& camera) { return camera.address == address; });
        if (const auto identity = WindowPlaces::identityFor(std::nullopt, address);
            identity && !discovered) {
            cameras.push_back(GridCamera{*identity, address, nullptr, address, {}});
        }
    }
    return cameras;
}

// ---- dialogs -----------------------------------------------------------------------------

void ScannerController::showOptions() {
    hideScannerWindow();
    dialogs_->showOption(std::shared_ptr<ScannerDialogHost>(shared_from_this(), dialogs_.get()));
}

void ScannerController::showAddCamera() {
    hideScannerWindow();
    dialogs_->showNewDevice(std::shared_ptr<ScannerDialogHost>(shared_from_this(), dialogs_.get()));
}

// ---- local camera preview ----------------------------------------------------------------

void ScannerController::displayCamera() {
    if (!view_) {
        return;
    }
    if (radia_) {
        radia_->setRadarEnabled(false);
    }
    if (!filterView_) {
        filterView_ = new LocalCameraPreview(WatermarkCanvas::makeFromResource(), view_);
        filterView_->setGeometry(0, 0, view_->width(), view_->height());
    }
    if (const auto failure = filterView_->start()) {
        logLine(std::string(LocalCameraPreview::kStartFailureText) + *failure);
        // Without a camera the radar comes back in its place.
        delete filterView_.data();
        if (radia_) {
            radia_->resetRadar();
        }
        return;
    }
    filterView_->show();
    filterView_->raise();
}

// ---- reachability ------------------------------------------------------------------------

void ScannerController::updateForReachability(const std::shared_ptr<Reachability>& reachability) {
    if (hostReachability_ && reachability == hostReachability_ && netState_) {
        netState_ = reachability->currentReachabilityStatus();
    }
}

// ---- alarms -------------------------------------------------------------------------------

void ScannerController::bringWindowsForward() {
    QWidget* key = nullptr;
    for (const auto& window : videoWindowList_) {
        if (window->isVisible()) {
            window->raise();
            key = window.get();
        }
    }
    if (window_ && window_->isVisible()) {
        window_->raise();
        key = window_.data();
    }
    if (key != nullptr) {
        key->activateWindow();
    }
}

std::optional<AlarmDispatcher::AlarmedWindow> ScannerController::alarmedWindowOf(
    const std::weak_ptr<CameraSession>& session) const {
    for (const auto& window : videoWindowList_) {
        const std::shared_ptr<CameraSession>& own = window->session();
        if (own && !own.owner_before(session) && !session.owner_before(own)) {
            return AlarmDispatcher::AlarmedWindow{window->cameraName(), window.get()};
        }
    }
    return std::nullopt;
}

// ---- options -----------------------------------------------------------------------------

void ScannerController::publishOptions() { sessionHost_->publishOptions(); }

void ScannerController::applyClipSettings(const ClipSettings& settings) {
    for (const auto& window : videoWindowList_) {
        if (const auto& session = window->session()) {
            session->setClipSettings(settings);
        }
    }
}

void ScannerController::saveOptions() {
    publishOptions();
    saveOptionRecord(setOptionData(options_));
}

std::shared_ptr<PipeWireConnection> ScannerController::webcamConnection() {
    if (!webcamTried_) {
        webcamTried_ = true;
        webcamConnection_ = PipeWireConnection::open(&webcamAbsence_);
    }
    return webcamConnection_;
}

std::string ScannerController::webcamAbsence() {
    webcamConnection();
    return webcamAbsence_;
}

void ScannerController::setWebcamChosen(const std::string& identity, bool chosen) {
    if (!isWebcamIdentity(identity) || webcamChosen(identity) == chosen ||
        (chosen && webcamChoices_.cameras.size() >= WebcamChoices::kMaxCameras)) {
        return;
    }
    if (chosen) {
        webcamChoices_.cameras.insert(identity);
    } else {
        webcamChoices_.cameras.erase(identity);
    }
    saveWebcamChoices(webcamChoices_);
}

}  // namespace vistamo
