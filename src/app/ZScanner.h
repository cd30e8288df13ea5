#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ScannerDialogHost.h"
#include "app/ScannerDiscoveryHost.h"
#include "discovery/Reachability.h"
#include "session/SessionScanner.h"
#include "settings/OptionData.h"
#include "settings/WindowPlaces.h"
#include "settings/ZConfiguration.h"
#include "video/VideoScanner.h"

class QLabel;
class QMenuBar;
class QPushButton;
class QToolButton;
class QWidget;

namespace vistamo {

class DesktopNotifier;
class LocalCameraPreview;
class QtDeviceButton;
class Workspace;
class ZConfig;
class ZDeviceInfo;
class ZRadiaView;
class ZUDPScanner;
class ZVideoWindow;
class clientSocket;
class videoWindow;

// The controller of the application's main window and the hub the rest hangs from: it owns the
// discovery scanner (which has a button per camera put on its view by the scanner's discovery
// host, `discoveryHost`), the store of accepted
// passwords, the alarm options and the open camera windows; it opens a camera window on a
// click or a typed address; it drives the radar behind the buttons.
//
// Opening a camera window or a dialog hides the scanner window; closing a camera window brings
// it back, and so does closing a dialog while no camera is connected.
//
// Threads: everything runs on the main thread, except what sessions call on their queues
// (`bOnceAlarm`, `serviceName`, `deviceDownWithDevice`), which touch only values kept for that
// purpose.
//
// Lifecycle: `create`, then `loadView` (builds the view, which the scanner window takes as its
// content), `viewDidLoad` once; the window calls `viewDidAppear` each time it is shown.
class ZScanner final : public QObject,
                       public SessionScanner,
                       public VideoScanner,
                       public ScannerDialogHost,
                       public std::enable_shared_from_this<ZScanner> {
    Q_OBJECT

public:
    // What the scanner asks of the application around it; any field may be left empty.
    struct Environment {
        // Registers the scanner as the application delegate's main window.
        std::function<void(const std::shared_ptr<ZScanner>&)> registerAsMainWindow;
        // The application's menu bar for a camera window, owned by that window.
        std::function<QMenuBar*(QWidget*)> makeMenuBar;
    };

    static std::shared_ptr<ZScanner> create(Environment environment = {});
    ~ZScanner() override;

    // ---- Main thread ----

    // Builds the view: radar, centre button, status line and the two controls that open the
    // add-camera and option dialogs. The caller puts it into the scanner window, which owns it.
    QWidget* loadView();
    QWidget* view() const { return view_.data(); }
    // The window that shows the view; hidden while a camera window or a dialog is open.
    void setWindow(QWidget* window) { window_ = window; }
    QWidget* window() const { return window_.data(); }

    // Start-up: the radar and its timer, the options (read, or written at first start), the
    // reachability watcher, the discovery scanner when the network is reachable now, and the
    // registration as main window.
    void viewDidLoad();
    // Restarts the radar sweep and scans at once; each time the view becomes visible.
    void viewDidAppear();
    void viewWillDisappear();
    // Places the centre button, the status line, the radar and the camera buttons.
    void viewDidLayout();

    // Opens a camera window for a typed address (port 7341) or for a camera button.
    void connectToServerWithIp(const std::string& address) override;
    // A camera whose window is open already (`bOccupied`) gets that window raised instead.
    void connectToServerWithId(QtDeviceButton& button);

    void restoreButtonWithWc(const std::shared_ptr<videoWindow>& wc);
    void destroyWindowWithWc(const std::shared_ptr<videoWindow>& wc) override;
    // destroyWindowWithWc for `wc` 0.3 s later.
    void releaseVideoWindowWithVw(const std::shared_ptr<videoWindow>& wc);
    // While true, clicks on camera buttons are ignored.
    void setButtonStatusWithStatus(bool status) { bButtonDown_ = status; }

    // Replaces the radar with the local camera preview; without a camera the failure is
    // logged and the radar comes back.
    void displayCamera();
    // The "option" and "newDevice" segues: hide the scanner window and open the dialog.
    void showOptionWithId();
    void showNewDeviceWithId();

    // Closes every camera window, then runs the event loop until the windows and their
    // sessions are gone (or `limit` has passed), so that no work queued for the main thread
    // still holds a window when the application object goes. At the end of the application.
    void closeAllVideoWindows(std::chrono::milliseconds limit);

    void updateInterfaceWithReachabilityWithReachability(
        const std::shared_ptr<Reachability>& reachability);

    const std::vector<std::shared_ptr<videoWindow>>& videoWindowList() const {
        return videoWindowList_;
    }
    std::shared_ptr<ZUDPScanner> mUdpSocket() const { return mUdpSocket_; }
    ZRadiaView* radia() const;
    // The camera buttons on the view, in the order they were made.
    const std::vector<std::shared_ptr<QtDeviceButton>>& deviceButtons() const {
        return discoveryHost_->buttons();
    }
    // What discovery sees of the scanner: its view's camera buttons and status line.
    ScannerDiscoveryHost& discoveryHost() { return *discoveryHost_; }

    // The store of accepted passwords; for discovery and sessions.
    ZConfig* config() override;

    // ---- SessionScanner ----
    long picID() const override;
    void setPicID(long picID) override;
    bool bOnceAlarm() const override;  // any thread
    // On the session's queue; nothing to do.
    void deviceDownWithDevice(const std::shared_ptr<ZDeviceInfo>& device) override;
    void runAlarmActions(const std::shared_ptr<SoundPlayer>& alarmSound) override;
    // The alarm actions, then a desktop notice naming the camera of `session`.
    void runAlarmActionsFor(const std::weak_ptr<clientSocket>& session,
                            const std::shared_ptr<SoundPlayer>& alarmSound) override;
    std::optional<std::string> serviceName() const override;  // any thread

    // ---- VideoScanner and ScannerDialogHost (main thread) ----
    bool bHit() const override { return options_.bHit; }
    void setBHit(bool hit) override { options_.bHit = hit; }
    void saveOptions() override;
    void applyClipSettings(const ClipSettings& settings) override;
    void setIsConnected(bool connected) override { isConnected_ = connected; }
    bool isConnected() const override { return isConnected_; }
    void removeVideoWindow(const videoWindow& wc) override;
    void showScannerWindow() override;
    std::string lastAddressSessionIp() const override;
    AlarmOptions& alarmOptions() override { return options_; }
    bool addNewOne(const std::string& address,
                   const std::shared_ptr<NewDeviceReceiver>& receiver) override;

private:
    explicit ZScanner(Environment environment);

    void refreshRadia();
    void hideScannerWindow();
    std::shared_ptr<clientSocket> makeSession();
    // Makes a camera window for `session`, lists and numbers it, connects, shows it.
    void openVideoWindow(const std::shared_ptr<clientSocket>& session,
                         const std::shared_ptr<ZDeviceInfo>& device,
                         const std::function<void()>& connect);
    // Raises the open window of `device`; false when it has none.
    bool raiseVideoWindowOf(const std::shared_ptr<ZDeviceInfo>& device);
    // The viewer's own windows to the front: the camera windows, then the scanner window
    // when it is shown, which becomes the active one.
    void bringWindowsForward();
    void publishOptions();
    // Camera windows open where the camera's window was last, and remember where they were.
    static std::optional<std::string> windowIdentity(const videoWindow& wc);
    void placeVideoWindow(const videoWindow& wc);
    void rememberVideoWindowPlace(const videoWindow& wc);

    // Set once at construction.
    const Environment environment_;

    // Main thread only.
    QPointer<QWidget> view_;
    QPointer<QWidget> window_;
    QPointer<ZRadiaView> radia_;
    QPointer<QPushButton> computer_;
    QPointer<QLabel> infomation_;
    QPointer<QToolButton> addCameraButton_;
    QPointer<QToolButton> optionButton_;
    QPointer<LocalCameraPreview> filterView_;
    // Made at the first alarm: it joins the session bus.
    QPointer<DesktopNotifier> notifier_;
    QTimer radarTimer_;
    AlarmOptions options_;
    std::unique_ptr<ZConfig> config_;
    // Discovery holds it weakly, through a reference that keeps the scanner alive while in use.
    std::unique_ptr<ScannerDiscoveryHost> discoveryHost_;
    std::shared_ptr<Reachability> hostReachability_;
    std::optional<NetworkStatus> netState_;
    std::shared_ptr<ZUDPScanner> mUdpSocket_;
    std::shared_ptr<clientSocket> mClientSocket_;
    std::vector<std::shared_ptr<videoWindow>> videoWindowList_;
    std::weak_ptr<videoWindow> mVideoWindow_;
    // Every camera window opened, until it is deleted (a closed window may outlive its
    // controller while its session is released).
    std::vector<QPointer<ZVideoWindow>> openedWindows_;
    // Read at start, written each time a camera window closes.
    WindowPlaces windowPlaces_;
    std::shared_ptr<Workspace> workspace_;
    bool isConnected_ = false;
    bool bButtonDown_ = false;

    // Written on the main thread, read by sessions on their queues.
    std::atomic<bool> bOnceAlarm_{true};
    // The camera settings record offered to sessions; never filled, so sessions read no
    // service name. Set once at construction.
    const std::optional<ZConfiguration> mCfg_;
};

}  // namespace vistamo
