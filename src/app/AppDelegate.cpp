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

#include "app/ZHelpVC.h"
#include "app/ZScanner.h"
#include "app/ZScannerWC.h"
#include "app/ZScannerWindow.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "video/ZGLVC.h"
#include "video/ZGLView.h"
#include "video/ZVideoWindow.h"
#include "video/videoWindow.h"

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
        if (ZVideoWindow* window = activeCameraWindow()) {
            return window->contentViewController()->isRecording();
        }
        return std::nullopt;
    });
}

AppDelegate::~AppDelegate() { delete help_.data(); }

void AppDelegate::applicationDidFinishLaunching() {
    ZScanner::Environment environment;
    environment.registerAsMainWindow = [this](const std::shared_ptr<ZScanner>& scanner) {
        setWindow(scanner);
    };
    environment.makeMenuBar = [this](QWidget* window) { return menus_->makeMenuBar(window); };
    auto scanner = ZScanner::create(std::move(environment));
    scannerWC_ = std::make_unique<ZScannerWC>(scanner);
    scanner->viewDidLoad();
    menus_->fill(*scannerWC_->window()->menuBar());
    scannerWC_->showWindow();
}

void AppDelegate::applicationWillTerminate() {
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
        case Command::CloseWindow:
            closeActiveWindow();
            break;
        case Command::Record:
            if (ZVideoWindow* window = activeCameraWindow()) {
                window->contentViewController()->toggleRecording();
            }
            break;
        case Command::Statistics:
            if (ZVideoWindow* window = activeCameraWindow()) {
                if (ZGLView* view = window->contentViewController()->myView()) {
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
        for (const auto& wc : mainWindow_->videoWindowList()) {
            if (wc->window() == active) {
                wc->window()->close();
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

ZVideoWindow* AppDelegate::activeCameraWindow() const {
    for (QWidget* window : cameraWindows()) {
        if (window == QApplication::activeWindow()) {
            return static_cast<ZVideoWindow*>(window);
        }
    }
    return nullptr;
}

std::vector<QWidget*> AppDelegate::cameraWindows() const {
    std::vector<QWidget*> windows;
    if (mainWindow_) {
        for (const auto& wc : mainWindow_->videoWindowList()) {
            if (ZVideoWindow* window = wc->window()) {
                windows.push_back(window);
            }
        }
    }
    return windows;
}

void AppDelegate::openOption() {
    if (mainWindow_) {
        mainWindow_->showOptionWithId();
    }
}

void AppDelegate::addCamera() {
    if (mainWindow_) {
        mainWindow_->showNewDeviceWithId();
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
        help_ = new ZHelpVC();
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

}  // namespace vistamo
