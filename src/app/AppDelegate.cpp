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

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() { delete help_.data(); }

void AppDelegate::applicationDidFinishLaunching() {
    ZScanner::Environment environment;
    environment.registerAsMainWindow = [this](const std::shared_ptr<ZScanner>& scanner) {
        setWindow(scanner);
    };
    auto scanner = ZScanner::create(std::move(environment));
    scannerWC_ = std::make_unique<ZScannerWC>(scanner);
    scanner->viewDidLoad();
    buildMenus(*scannerWC_->window()->menuBar());
    scannerWC_->showWindow();
}

void AppDelegate::applicationWillTerminate() {
    if (mainWindow_) {
        mainWindow_->closeAllVideoWindows(std::chrono::seconds(5));
    }
}

void AppDelegate::buildMenus(QMenuBar& bar) {
    QMenu* file = bar.addMenu(QStringLiteral("&Camera"));
    QAction* add = file->addAction(QStringLiteral("Add Camera…"), this, [this] { addCamera(); });
    add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    file->addAction(QStringLiteral("Local Camera Preview"), this, [this] { localCameraPreview(); });
    file->addSeparator();
    QAction* options = file->addAction(QStringLiteral("Options…"), this, [this] { openOption(); });
    options->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    options->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), qApp, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    menuShare_ = bar.addMenu(QStringLiteral("&Share"));
    menuShare_->addAction(QStringLiteral("E-mail"), this, [this] { shareByEmail(); });
    menuShare_->addAction(QStringLiteral("Copy Link"), this, [this] { copyLink(); });

    QMenu* help = bar.addMenu(QStringLiteral("&Help"));
    QAction* helpPage = help->addAction(QStringLiteral("Help"), this, [this] { showHelp(); });
    helpPage->setShortcut(QKeySequence::HelpContents);
    help->addAction(QStringLiteral("Web Page"), this, [this] { openURL(); });
    help->addAction(QStringLiteral("Send E-mail"), this, [this] { sendEmail(); });
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
