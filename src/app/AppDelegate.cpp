#include "app/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>
#include <QUrlQuery>

#include "app/HelpWindow.h"
#include "app/ScannerController.h"
#include "app/ScannerWindow.h"
#include "app/ScannerWindowController.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "video/CameraViewController.h"
#include "video/CameraWindow.h"
#include "video/VideoView.h"

namespace vistamo {

namespace {

// Where shared links lead: the product's web page (there is no application store here).
QUrl storePage() { return QUrl(QString::fromUtf8(kProductWebPage)); }

QString text(const char* key, const char* defaultText = "") {
    return QString::fromStdString(localizedString(key, defaultText));
}

void openExternally(const QUrl& url) {
    // The result is not shown to the user; a refusal is only logged.
    if (!QDesktopServices::openUrl(url)) {
        logLine("no program opened " + url.toString().toStdString());
    }
}

}  // namespace

AppDelegate::AppDelegate()
    : menus_(new AppMenus([this](AppMenus::Command command) { perform(command); },
                          [this] { return cameraWindows(); }, this)) {
    menus_->setRecordingState([this]() -> std::optional<bool> {
        if (CameraWindow* window = activeCameraWindow()) {
            return window->viewController()->isRecording();
        }
        return std::nullopt;
    });
    menus_->setPublishingState([this]() -> std::optional<bool> {
        if (CameraWindow* window = activeCameraWindow()) {
            return window->viewController()->isPublishing();
        }
        return std::nullopt;
    });
    menus_->setWebcamState([this] {
        AppMenus::WebcamState state;
        CameraWindow* window = activeCameraWindow();
        state.cameraWindow = window != nullptr;
        state.on = window != nullptr && window->usesWebcam();
        if (mainWindow_ && !mainWindow_->webcamConnection()) {
            state.absence = mainWindow_->webcamAbsence();
        }
        return state;
    });
}

AppDelegate::~AppDelegate() { delete help_.data(); }

void AppDelegate::start() {
    ScannerController::Environment environment;
    environment.registerAsMainWindow = [this](const std::shared_ptr<ScannerController>& scanner) {
        setWindow(scanner);
    };
    environment.makeMenuBar = [this](QWidget* window) { return menus_->makeMenuBar(window); };
    auto scanner = ScannerController::create(std::move(environment));
    scannerWindowController_ = std::make_unique<ScannerWindowController>(scanner);
    scanner->load();
    menus_->fill(*scannerWindowController_->window()->menuBar());
    scannerWindowController_->showWindow();
}

void AppDelegate::shutDown() {
    if (mainWindow_) {
        mainWindow_->closeAllVideoWindows(std::chrono::seconds(5));
    }
}

void AppDelegate::perform(AppMenus::Command command) {
    using Command = AppMenus::Command;
    switch (command) {
        case Command::AddCamera:
            addCamera();
            break;
        case Command::LocalCameraPreview:
            localCameraPreview();
            break;
        case Command::Options:
            openOption();
            break;
        case Command::Quit:
            QApplication::quit();
            break;
        case Command::ShareByEmail:
            shareByEmail();
            break;
        case Command::CopyLink:
            copyLink();
            break;
        case Command::Help:
            showHelp();
            break;
        case Command::WebPage:
            openURL();
            break;
        case Command::SendEmail:
            sendEmail();
            break;
        case Command::ShowScanner:
            if (mainWindow_) {
                mainWindow_->showScannerWindow();
            }
            break;
        case Command::CameraGrid:
            if (mainWindow_) {
                mainWindow_->showCameraGrid();
            }
            break;
        case Command::CloseWindow:
            closeActiveWindow();
            break;
        case Command::Record:
            if (CameraWindow* window = activeCameraWindow()) {
                window->viewController()->toggleRecording();
            }
            break;
        case Command::Publish:
            if (CameraWindow* window = activeCameraWindow()) {
                window->viewController()->togglePublishing();
            }
            break;
        case Command::UseAsWebcam:
            if (CameraWindow* window = activeCameraWindow()) {
                window->toggleWebcam();
            }
            break;
        case Command::Statistics:
            if (CameraWindow* window = activeCameraWindow()) {
                if (VideoView* view = window->viewController()->videoView()) {
                    view->toggleStatistics();
                }
            }
            break;
    }
}

void AppDelegate::closeActiveWindow() {
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr) {
        return;
    }
    if (mainWindow_) {
        for (const auto& window : mainWindow_->videoWindowList()) {
            if (window.get() == active) {
                // A camera the grid shows stays connected for its tile.
                if (window->hidesOnClose()) {
                    window->hide();
                } else {
                    window->close();
                }
                return;
            }
        }
        // Closing the scanner window ends the application; while cameras are open it only
        // goes out of the way, as opening a camera does, and Show Scanner brings it back.
        if (active == mainWindow_->window() && !mainWindow_->videoWindowList().empty()) {
            active->hide();
            return;
        }
    }
    active->close();
}

CameraWindow* AppDelegate::activeCameraWindow() const {
    for (QWidget* window : cameraWindows()) {
        if (window == QApplication::activeWindow()) {
            return static_cast<CameraWindow*>(window);
        }
    }
    return nullptr;
}

std::vector<QWidget*> AppDelegate::cameraWindows() const {
    std::vector<QWidget*> windows;
    if (mainWindow_) {
        for (const auto& window : mainWindow_->videoWindowList()) {
            // A window the camera grid keeps hidden is not open for the user.
            if (window->isVisible() || !window->hidesOnClose()) {
                windows.push_back(window.get());
            }
        }
    }
    return windows;
}

void AppDelegate::openOption() {
    if (mainWindow_) {
        mainWindow_->showOptions();
    }
}

void AppDelegate::addCamera() {
    if (mainWindow_) {
        mainWindow_->showAddCamera();
    }
}

void AppDelegate::localCameraPreview() {
    if (mainWindow_) {
        // The preview is drawn in the scanner window, which a camera window may have hidden.
        mainWindow_->showScannerWindow();
        mainWindow_->displayCamera();
    }
}

void AppDelegate::openURL() { openExternally(QUrl(QString::fromUtf8(kProductWebPage))); }

QString AppDelegate::emailLink() {
    // The tolerant parser percent-encodes what a URL cannot hold as it stands (blanks in the
    // subject, say).
    const QUrl link(text("EMAILLINK"), QUrl::TolerantMode);
    if (!link.isValid() || link.scheme().isEmpty()) {
        return {};
    }
    return link.toString(QUrl::FullyEncoded);
}

void AppDelegate::sendEmail() {
    const QString link = emailLink();
    if (link.isEmpty()) {
        logLine("the mail link is not a valid URL");
        return;
    }
    openExternally(QUrl(link, QUrl::StrictMode));
}

void AppDelegate::shareByEmail() {
    const QString message = text("SHARE_MSG", "Share the app");
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), message);
    query.addQueryItem(QStringLiteral("body"), message + QLatin1Char(' ') + storePage().toString());
    QUrl mail(QStringLiteral("mailto:"));
    mail.setQuery(query);
    openExternally(mail);
}

void AppDelegate::copyLink() { QGuiApplication::clipboard()->setText(storePage().toString()); }

void AppDelegate::showHelp() {
    if (!help_) {
        help_ = new HelpWindow();
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

}  // namespace vistamo
