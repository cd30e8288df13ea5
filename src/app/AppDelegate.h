#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

class QMenu;
class QMenuBar;

namespace vistamo {

class ZHelpVC;
class ZScanner;
class ZScannerWC;

// Starts the application and answers its menu commands: the scanner window with its menus
// (camera, options, Share, help), the product's web page, e-mail, help.
//
// Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    AppDelegate();
    ~AppDelegate() override;

    // Makes the scanner and its window, loads the scanner (which registers itself as
    // `mainWindow`), fills the menus and shows the window.
    void applicationDidFinishLaunching();
    // After the event loop has ended: closes the camera windows and lets them go while the
    // application object still exists.
    void applicationWillTerminate();

    // The scanner; set by the scanner itself at start-up.
    const std::shared_ptr<ZScanner>& mainWindow() const { return mainWindow_; }
    void setWindow(std::shared_ptr<ZScanner> scanner) { mainWindow_ = std::move(scanner); }

    // Menu commands.
    void openOption();
    void addCamera();
    void localCameraPreview();
    void openURL();
    void sendEmail();
    void shareByEmail();
    void copyLink();
    void showHelp();

    // The mail link "EMAILLINK" with its query made URL-safe; empty when it does not form a
    // valid URL.
    static QString emailLink();

private:
    void buildMenus(QMenuBar& bar);

    // Main thread only. The scanner window's controller goes before the scanner: the window
    // holds the scanner's view.
    std::shared_ptr<ZScanner> mainWindow_;
    std::unique_ptr<ZScannerWC> scannerWC_;
    QPointer<QMenu> menuShare_;
    QPointer<ZHelpVC> help_;
};

}  // namespace vistamo
