#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace vistamo {

// The application's menus, described once and put on the menu bar of every window: the
// scanner window and each camera window carry the same menus with the same actions. An action
// exists once for the whole application, so its shortcut works in whichever window is active
// and acts on the application as a whole.
//
// The Window menu lists, each time it opens, the camera windows open at that moment.
//
// Main thread only.
class AppMenus final : public QObject {
    Q_OBJECT

public:
    // What the menus do.
    enum class Command {
        AddCamera,
        LocalCameraPreview,
        Options,
        Quit,
        ShareByEmail,
        CopyLink,
        Help,
        WebPage,
        SendEmail,
        ShowScanner,
        // Opens the window with a tile for every camera.
        CameraGrid,
        CloseWindow,
        // Starts or stops recording the active camera window's camera.
        Record,
        // Shows or hides the statistics over the active camera window's picture.
        Statistics,
        // Asks where to publish the active camera window's camera, or stops publishing it.
        Publish,
        // Offers the active camera window's camera to other programs as a webcam, or stops.
        UseAsWebcam,
    };

    // What "Use as Webcam" shows when a menu opens.
    struct WebcamState {
        // Whether the active window is a camera window, and whether it is used as a webcam.
        bool cameraWindow = false;
        bool on = false;
        // Why there is no webcam at all (PipeWire is absent); empty when there can be one.
        std::string absence;
    };

    // `perform` runs a command; `cameraWindows` answers the open camera windows, in the order
    // they were opened.
    AppMenus(std::function<void(Command)> perform,
             std::function<std::vector<QWidget*>()> cameraWindows, QObject* parent = nullptr);
    ~AppMenus() override;

    // Fills `bar` with the application's menus.
    void fill(QMenuBar& bar);

    // Whether the active window's camera records: none when the active window is not a camera
    // window (Record is then disabled). Asked each time a menu opens.
    void setRecordingState(std::function<std::optional<bool>()> state) {
        recordingState_ = std::move(state);
    }

    // Whether the active window's camera publishes: none when the active window is not a
    // camera window (the item is then disabled). Asked each time a menu opens; the item reads
    // "Stop Publishing" while it publishes.
    void setPublishingState(std::function<std::optional<bool>()> state) {
        publishingState_ = std::move(state);
    }
    // The state of "Use as Webcam", asked each time a menu opens.
    void setWebcamState(std::function<WebcamState()> state) { webcamState_ = std::move(state); }

    // A menu bar for `window`, owned by it (for windows that are not main windows).
    QMenuBar* makeMenuBar(QWidget* window);

    // The action of `command`, for tests and for windows that offer it elsewhere.
    QAction* action(Command command) const;

    // One line of a menu: an action, a separator, or the place of the open camera windows.
    struct MenuLine;

private:
    void addLines(QMenu& menu, const std::vector<MenuLine>& lines);
    void showWebcamState();

    // Set once at construction.
    const std::function<void(Command)> perform_;
    const std::function<std::vector<QWidget*>()> cameraWindows_;
    // Main thread only; indexed by Command.
    std::vector<QPointer<QAction>> actions_;
    std::function<std::optional<bool>()> recordingState_;
    std::function<std::optional<bool>()> publishingState_;
    std::function<WebcamState()> webcamState_;
};

}  // namespace vistamo
