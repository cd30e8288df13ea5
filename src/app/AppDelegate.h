#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "app/AppMenus.h"

class QWidget;

namespace vistamo {

class CameraWindow;

class HelpWindow;
class ScannerController;
class ScannerWindowController;

// Starts the application and answers its menu commands, which every window's menu bar offers:
// the scanner window, camera, options, Share, the Window menu, the product's web page, e-mail,
// help.
//
// Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    AppDelegate();
    ~AppDelegate() override;

    // Makes the scanner and its window, loads the scanner (which registers itself as
    // `mainWindow`), fills the menus and shows the window.
    void start();
    // After the event loop has ended: closes the camera windows and lets them go while the
    // application object still exists.
    void shutDown();

    // The scanner; set by the scanner itself at start-up.
    const std::shared_ptr<ScannerController>& mainWindow() const { return mainWindow_; }
    void setWindow(std::shared_ptr<ScannerController> scanner) { mainWindow_ = std::move(scanner); }

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

    // Runs a menu command. Close Window closes the active window; see closeActiveWindow.
    void perform(AppMenus::Command command);

private:
    void closeActiveWindow();
    std::vector<QWidget*> cameraWindows() const;
    // The camera window that is the active window, or none.
    CameraWindow* activeCameraWindow() const;

    // Main thread only. The scanner window's controller goes before the scanner: the window
    // holds the scanner's view.
    std::shared_ptr<ScannerController> mainWindow_;
    std::unique_ptr<ScannerWindowController> scannerWindowController_;
    // Owned by this object (its Qt parent); made first, used by every window's menu bar.
    AppMenus* menus_;
    QPointer<HelpWindow> help_;
};

}  // namespace vistamo
