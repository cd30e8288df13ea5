#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CameraGridWindow.h"
#include "app/ScannerDialogs.h"
#include "app/ScannerDiscoveryHost.h"
#include "app/ScannerSessionHost.h"
#include "discovery/Reachability.h"
#include "settings/OptionData.h"
#include "settings/WebcamChoices.h"
#include "settings/WindowPlaces.h"
#include "video/VideoScanner.h"

class QLabel;
class QMenuBar;
class QPushButton;
class QToolButton;
class QWidget;

namespace vistamo {

class LocalCameraPreview;
class QtDeviceButton;
class PasswordStore;
class CameraRecord;
class RadarView;
class CameraFinder;
class CameraWindow;
class CameraSession;

// The controller of the application's main window and the hub the rest hangs from: it owns the
// discovery scanner (whose cameras its view shows as buttons), the store of accepted
// passwords, the alarm options and the open camera windows; it opens a camera window on a
// click or a typed address; it drives the radar behind the buttons.
//
// What its neighbours see of it are small objects it owns, one per role: discovery meets its
// `discoveryHost`, camera sessions its `sessionHost`, the option and add-camera dialogs its
// `dialogs`; camera windows meet the scanner itself (VideoScanner).
//
// Opening a camera window or a dialog hides the scanner window; closing a camera window brings
// it back, and so does closing a dialog while no camera is connected.
//
// Threads: everything runs on the main thread, except what sessions call on their queues
// (`serviceName`, `cameraWentDown`, the alarm reports, see ScannerSessionHost and
// AlarmDispatcher), which touch only values kept for that purpose.
//
// Lifecycle: `create`, then `makeView` (builds the view, which the scanner window takes as its
// content), `load` once; the window calls `wasShown` each time it is shown.
class ScannerController final : public QObject,
                                public VideoScanner,
                                public std::enable_shared_from_this<ScannerController> {
    Q_OBJECT

public:
    // What the scanner asks of the application around it; any field may be left empty.
    struct Environment {
        // Registers the scanner as the application delegate's main window.
        std::function<void(const std::shared_ptr<ScannerController>&)> registerAsMainWindow;
        // The application's menu bar for a camera window, owned by that window.
        std::function<QMenuBar*(QWidget*)> makeMenuBar;
    };

    static std::shared_ptr<ScannerController> create(Environment environment = {});
    ~ScannerController() override;

    // ---- Main thread ----

    // Builds the view: radar, centre button, status line and the two controls that open the
    // add-camera and option dialogs. The caller puts it into the scanner window, which owns it.
    QWidget* makeView();
    QWidget* view() const { return view_.data(); }
    // The window that shows the view; hidden while a camera window or a dialog is open.
    void setWindow(QWidget* window) { window_ = window; }
    QWidget* window() const { return window_.data(); }

    // Start-up: the radar and its timer, the options (read, or written at first start), the
    // reachability watcher, the discovery scanner when the network is reachable now, and the
    // registration as main window.
    void load();
    // Restarts the radar sweep and scans at once; each time the view becomes visible.
    void wasShown();
    // Places the centre button, the status line, the radar and the camera buttons.
    void layOut();

    // Opens a camera window for a typed address (port 7341) or for a camera button.
    void connectToAddress(const std::string& address);
    // A camera whose window is open already (`bOccupied`) gets that window raised instead.
    // `camera` is the record the clicked `button` shows.
    void connectToButton(const std::shared_ptr<CameraRecord>& camera, QtDeviceButton& button);

    void restoreButton(const std::shared_ptr<CameraWindow>& window);
    void destroyWindow(const std::shared_ptr<CameraWindow>& window) override;
    // destroyWindow for `window` 0.3 s later.
    void releaseWindow(const std::shared_ptr<CameraWindow>& window);
    // While true, clicks on camera buttons are ignored.
    void setButtonDown(bool status) { bButtonDown_ = status; }

    // Replaces the radar with the local camera preview; without a camera the failure is
    // logged and the radar comes back.
    void displayCamera();
    // The "option" and "newDevice" segues: hide the scanner window and open the dialog.
    void showOptions();
    void showAddCamera();

    // Opens the camera grid window (Window › Camera Grid), or brings it to the front, laid out
    // and placed as it was last.
    void showCameraGrid();
    CameraGridWindow* cameraGrid() const { return grid_.data(); }

    // Closes every camera window, then runs the event loop until the windows and their
    // sessions are gone (or `limit` has passed), so that no work queued for the main thread
    // still holds a window when the application object goes. At the end of the application.
    void closeAllVideoWindows(std::chrono::milliseconds limit);

    void updateForReachability(const std::shared_ptr<Reachability>& reachability);

    const std::vector<std::shared_ptr<CameraWindow>>& videoWindowList() const {
        return videoWindowList_;
    }
    std::shared_ptr<CameraFinder> finder() const { return finder_; }
    RadarView* radia() const;
    // The camera buttons on the view, in the order they were made.
    std::vector<std::shared_ptr<QtDeviceButton>> deviceButtons() const {
        return discoveryHost_->buttons();
    }
    // The scanner's roles: what discovery, camera sessions and the dialogs see of it.
    ScannerDiscoveryHost& discoveryHost() { return *discoveryHost_; }
    ScannerSessionHost& sessionHost() { return *sessionHost_; }
    ScannerDialogs& dialogs() { return *dialogs_; }

    // The store of accepted passwords; for the scanner window and sessions.
    PasswordStore* config() { return config_.get(); }
    // The snapshot counter.
    long picID() const { return sessionHost_->picID(); }
    void setPicID(long picID) { sessionHost_->setPicID(picID); }
    // A session's camera has gone; nothing to do. On the session's queue.
    void cameraWentDown(const std::shared_ptr<CameraRecord>& device) {
        sessionHost_->cameraWentDown(device);
    }

    // The alarm settings the option dialog edits in place.
    AlarmOptions& alarmOptions() { return options_; }
    bool isConnected() const { return isConnected_; }
    // What a motion alarm records, now saved: handed to every open camera's session.
    void applyClipSettings(const ClipSettings& settings);

    // ---- VideoScanner (main thread) ----
    bool bHit() const override { return options_.bHit; }
    void setBHit(bool hit) override { options_.bHit = hit; }
    void saveOptions() override;
    void setIsConnected(bool connected) override { isConnected_ = connected; }
    void removeVideoWindow(const CameraWindow& window) override;
    void showScannerWindow() override;
    std::string lastAddressSessionIp() const override;
    std::shared_ptr<CameraSession> makeSession() override;
    // From discovery's list: the same record, else the first of the same identity. Without
    // discovery, `known` (a window keeps the address it had).
    std::shared_ptr<CameraRecord> currentRecordOf(const std::shared_ptr<CameraRecord>& known,
                                                  const std::string& identity) override;
    // A desktop notice; a click on it brings the scanner's window.
    void cameraLost(const std::string& cameraName) override;
    // Connects to PipeWire when first asked, once for the whole run (a missing daemon is logged
    // once and not tried again).
    std::shared_ptr<PipeWireConnection> webcamConnection() override;
    std::string webcamAbsence() override;
    bool webcamChosen(const std::string& identity) const override {
        return webcamChoices_.contains(identity);
    }
    void setWebcamChosen(const std::string& identity, bool chosen) override;

private:
    explicit ScannerController(Environment environment);

    void refreshRadar();
    void hideScannerWindow();
    // Makes a camera window for `session`, lists and numbers it, connects, and shows it unless
    // it is made `Hidden` (for a camera grid's tile, until the user opens it).
    enum class WindowShown { Shown, Hidden };
    std::shared_ptr<CameraWindow> openVideoWindow(const std::shared_ptr<CameraSession>& session,
                                                  const std::shared_ptr<CameraRecord>& device,
                                                  const std::function<void()>& connect,
                                                  WindowShown shown = WindowShown::Shown);
    // The grid's way to a camera: the camera's open window, else a new hidden one that
    // connects to it and hides when closed. None when the camera cannot be reached now.
    // A new window's session calls `passwordNeeded` when the camera asks for a password.
    std::shared_ptr<CameraWindow> windowForGrid(const GridCamera& camera,
                                                std::function<void()> passwordNeeded);
    // The grid no longer shows `window`'s camera: a hidden window closes, a shown one stays
    // and closes as usual from now on.
    void releaseGridWindow(const std::shared_ptr<CameraWindow>& window);
    // Raises the open window of `device`; false when it has none.
    bool raiseVideoWindowOf(const std::shared_ptr<CameraRecord>& device);
    // The viewer's own windows to the front: the camera windows, then the scanner window
    // when it is shown, which becomes the active one.
    void bringWindowsForward();
    // The open camera window showing `session`, for the alarm's notice.
    std::optional<AlarmDispatcher::AlarmedWindow> alarmedWindowOf(
        const std::weak_ptr<CameraSession>& session) const;
    void publishOptions();
    // Camera windows open where the camera's window was last, and remember where they were.
    static std::optional<std::string> windowIdentity(const CameraWindow& window);
    void placeVideoWindow(CameraWindow& window);
    void rememberVideoWindowPlace(const CameraWindow& window);
    // The grid's tiles: the cameras discovery lists, then the addresses typed in this run.
    std::vector<GridCamera> gridCameras() const;

    // Set once at construction.
    const Environment environment_;

    // Main thread only.
    QPointer<QWidget> view_;
    QPointer<QWidget> window_;
    QPointer<RadarView> radia_;
    QPointer<QPushButton> computer_;
    QPointer<QLabel> statusLine_;
    QPointer<QToolButton> addCameraButton_;
    QPointer<QToolButton> optionButton_;
    QPointer<LocalCameraPreview> filterView_;
    QTimer radarTimer_;
    AlarmOptions options_;
    std::unique_ptr<PasswordStore> config_;
    // The roles. Discovery, sessions and dialogs hold them through references that keep the
    // scanner alive while in use.
    std::unique_ptr<ScannerDiscoveryHost> discoveryHost_;
    std::unique_ptr<ScannerSessionHost> sessionHost_;
    std::unique_ptr<ScannerDialogs> dialogs_;
    std::shared_ptr<Reachability> hostReachability_;
    std::optional<NetworkStatus> netState_;
    std::shared_ptr<CameraFinder> finder_;
    std::shared_ptr<CameraSession> session_;
    std::vector<std::shared_ptr<CameraWindow>> videoWindowList_;
    std::weak_ptr<CameraWindow> openWindow_;
    // Every camera window opened, until it is deleted (a closed window lives on while its
    // session is released).
    std::vector<QPointer<CameraWindow>> openedWindows_;
    // Read at start, written each time a camera window closes.
    WindowPlaces windowPlaces_;
    // The cameras used as a webcam (file webcams.conf), and the PipeWire connection once tried.
    WebcamChoices webcamChoices_;
    bool webcamTried_ = false;
    std::shared_ptr<PipeWireConnection> webcamConnection_;
    std::string webcamAbsence_;
    // Addresses opened through Add Camera…, in the order first typed, without repeats.
    std::vector<std::string> typedAddresses_;
    QPointer<CameraGridWindow> grid_;
    bool isConnected_ = false;
    bool bButtonDown_ = false;
};

}  // namespace vistamo
