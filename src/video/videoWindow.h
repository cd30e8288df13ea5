#pragma once

#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

namespace vistamo {

class clientSocket;
class VideoScanner;
class ZDeviceInfo;
class ZGLVC;
class ZVideoWindow;

// Drops a reference to a camera session so that, when it is the last one, the session is
// destroyed on a worker thread and never on the main thread: destroying it joins its decoder,
// whose thread may be waiting for the main thread to draw a frame. `keepAlive` (the window
// controller, say) is released afterwards on the main thread, so nothing drawn by the main
// thread goes away while the decoder may still deliver to it. Main thread.
void releaseSession(std::shared_ptr<clientSocket>&& session,
                    std::shared_ptr<void> keepAlive = nullptr);

// The controller of one camera's window: wires the camera session to the window's video view
// controller, titles the window, and tears down in a fixed order when the window closes.
//
// Ownership: the scanner's list of camera windows owns the controller (as do delayed calls
// still pending for it); the controller owns its window, which owns the video view
// controller; the controller owns the session. Everything else is weak.
//
// Closing. Three entry points share one teardown: `close` (variant A, the controller's own),
// `windowWillClose` (variant B, the window tells its controller) and `closeWindow` (variant C,
// after the window has closed). Closing the window itself (its close box, the close button of
// the bar, the session when the camera goes) runs B, then C. Every run stops the renderer,
// frees the camera record, disconnects the session, takes the controller out of the scanner's
// list, shows the scanner's window and, 0.3 s later, asks the scanner to destroy the window
// (`destroyWindowWithWc`); that pending call keeps the controller alive until it has run.
// Runs after the first have no further effect.
//
// Main thread only.
class videoWindow final : public std::enable_shared_from_this<videoWindow> {
    struct CreateToken {};

public:
    // Between closing and the scanner's `destroyWindowWithWc`.
    static constexpr double kDestroyDelaySeconds = 0.3;

    // Builds the window ("openGLView": a ZVideoWindow whose content is a ZGLVC with its
    // view), then `windowDidLoad`. `number` 0, no session, no scanner, no camera record.
    static std::shared_ptr<videoWindow> create();
    explicit videoWindow(CreateToken);
    ~videoWindow();

    videoWindow(const videoWindow&) = delete;
    videoWindow& operator=(const videoWindow&) = delete;

    // Writes "window did load".
    void windowDidLoad();
    // Gives the session the video view of the window's content controller.
    void setClient();
    // Wires the window to this controller and the content controller to the session, then
    // starts the video (`setVideo`).
    void setSocket();
    // "VIDEO_FROM" followed by cameraName.
    void setTitle();
    // The camera's name; for a window opened by address, that address.
    std::string cameraName() const;
    bool becomeFirstResponder() const { return true; }

    // Variant A: writes "close window", then the teardown. Does not close the window.
    void close();
    // Variant B: writes "will close", then the teardown without clearing `isConnected`.
    void windowWillClose();
    // Variant C: clears the scanner's `isConnected`, then the teardown.
    void closeWindow();

    // Shows the window and brings it to the front.
    void showWindow();
    ZVideoWindow* window() const;

    // The session. Setting a new value (none, when the scanner destroys the window) releases
    // the previous session with `releaseSession`, keeping this controller alive until then.
    const std::shared_ptr<clientSocket>& mClientSocket() const { return mClientSocket_; }
    void setMClientSocket(std::shared_ptr<clientSocket> session);

    std::weak_ptr<VideoScanner> mScanner;
    // The camera record when opened from a camera button; none when opened by address.
    std::weak_ptr<ZDeviceInfo> device;
    // The scanner's count of camera windows right after this one was added.
    int32_t number = 0;

    QPointer<ZVideoWindow> vw;
    std::weak_ptr<ZGLVC> glVC;

private:
    enum class Variant { A, B, C };
    void teardown(Variant variant);

    std::shared_ptr<clientSocket> mClientSocket_;
    // Deleted with the controller; the window's own content controller goes with it.
    std::unique_ptr<ZVideoWindow> window_;
};

}  // namespace vistamo
