#pragma once

#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "media/AudioEndpoint.h"
#include "session/SessionView.h"
#include "video/ReconnectPolicy.h"

namespace vistamo {

class CameraSession;
class VideoScanner;
class CameraRecord;
class CameraViewController;
class CameraWindow;

// Drops a reference to a camera session so that, when it is the last one, the session is
// destroyed on a worker thread and never on the main thread: destroying it joins its decoder,
// whose thread may be waiting for the main thread to draw a frame. `keepAlive` (the window
// controller, say) is released afterwards on the main thread, so nothing drawn by the main
// thread goes away while the decoder may still deliver to it. Main thread.
void releaseSession(std::shared_ptr<CameraSession>&& session,
                    std::shared_ptr<void> keepAlive = nullptr);

// The controller of one camera's window, and the one place where a camera window is put
// together and taken apart.
//
// Building (`create`), in this order: the session with its decoder (made by the caller from
// its parts), the renderer (VideoRenderer), the view (VideoView, which makes its control bar), the
// video view controller (CameraViewController, given the renderer, the view and this controller),
// the window (CameraWindow, which takes the view as its child and the video view controller as its
// content), this controller; then the session is attached. Taking apart runs the other way:
// `detach` unlinks the session and lets it go on a worker thread; the destructor then drops the
// window, which drops the video view controller (and with it the renderer), then the view and
// its bar.
//
// Ownership points down: the scanner's list owns this controller (as do delayed calls still
// pending for it); it owns the session and the window; the window owns the video view
// controller and the view; the video view controller owns the renderer; the view owns the
// bar. Every reference up is weak: the window and the video view controller to this
// controller, the video view controller to its view and the session, the renderer to its
// view, the session to the video view controller's link object and the renderer.
//
// The session is linked to the window's parts only in `attach` and unlinked only in
// `detach`, so that a session can go while the window, renderer, view, bar and video view
// controller stay.
//
// Closing. Three entry points share one teardown: `close` (variant A, the controller's own),
// `windowClosing` (variant B, the window tells its controller) and `closeWindow` (variant C,
// after the window has closed). Closing the window itself (its close box, the close button of
// the bar, the session when the camera goes) runs B, then C. Every run stops the renderer,
// frees the camera record, disconnects the session, takes the controller out of the scanner's
// list, shows the scanner's window and, 0.3 s later, asks the scanner to destroy the window
// (`destroyWindow`, which detaches the session); that pending call keeps the controller
// alive until it has run. Runs after the first have no further effect.
//
// Connecting again. When a session that the camera verified drops (the camera closed or reset
// the connection, a read or write failed, the stream went silent), the window stays: it detaches
// the session, dims its last picture under "Reconnecting…" and, after each wait of its
// ReconnectPolicy, attaches a new session from the scanner (`makeSession`) to the camera's
// current address (`currentRecordOf` for a camera found by discovery, the typed address
// otherwise). The camera's first state report on the new session ends it: the overlay goes and
// the policy starts afresh. It also ends, closing the window as before, when the window is
// closed, the camera refuses the password, discovery no longer lists the camera (it said it
// leaves) or the policy gives up (the scanner's `cameraLost` then tells the user once). A
// session that was never verified ends the window as before.
//
// Threads: everything here, and every part it builds, is made, linked, unlinked and destroyed
// on the main thread; only the session's last release runs on a worker thread (see
// `releaseSession`). The session's own queue and the decoder's thread reach the window's parts
// only through the weak links that `attach` sets.
class CameraWindowController final : public std::enable_shared_from_this<CameraWindowController> {
    struct CreateToken {};

public:
    // Between closing and the scanner's `destroyWindow`.
    static constexpr double kDestroyDelaySeconds = 0.3;

    // Builds a camera window for `session` (none: a window without a camera) opened by
    // `scanner` from the camera record `device` (none for a window opened by address), with
    // the intercom on `microphone`; then `attach`. `number` 0; not shown.
    static std::shared_ptr<CameraWindowController> create(
        std::shared_ptr<CameraSession> session = nullptr, std::weak_ptr<VideoScanner> scanner = {},
        std::shared_ptr<CameraRecord> device = nullptr,
        AudioEndpoint microphone = AudioEndpoint::systemDefault);
    explicit CameraWindowController(CreateToken);
    ~CameraWindowController();

    CameraWindowController(const CameraWindowController&) = delete;
    CameraWindowController& operator=(const CameraWindowController&) = delete;

    // Links `session` to this window, after detaching the one it had: it becomes
    // `session` and is attached to the video view controller (CameraViewController::attach).
    void attach(std::shared_ptr<CameraSession> session);
    // Unlinks the session from the window's parts and releases it with `releaseSession`,
    // keeping this controller alive until then. The window keeps its last picture.
    void detach();
    // "VIDEO_FROM" followed by cameraName.
    void setTitle();
    // The camera's name; for a window opened by address, that address.
    std::string cameraName() const;
    bool becomeFirstResponder() const { return true; }

    // Variant A: writes "close window", then the teardown. Does not close the window.
    void close();
    // Variant B: writes "will close", then the teardown without clearing `isConnected`.
    void windowClosing();
    // Variant C: clears the scanner's `isConnected`, then the teardown.
    void closeWindow();

    // The attached session ended for `why`. True when the window connects again (a verified
    // session dropped, or an attempt to connect again failed); false when it is to close.
    bool reconnectAfter(SessionEnd why);
    // The attached session reported the camera's state: the camera is there.
    void sessionLive();
    // Stops connecting again at once: no session is made after this.
    void stopReconnecting();
    // Between a drop and the camera's return (or the end of trying).
    bool reconnecting() const { return policy_.reconnecting(); }
    // For tests: where the policy's randomness comes from.
    void setReconnectPolicy(ReconnectPolicy policy) { policy_ = std::move(policy); }

    // Shows the window and brings it to the front.
    void showWindow();
    CameraWindow* window() const;
    // The window's video view controller.
    CameraViewController* content() const;

    // The attached session, or none.
    const std::shared_ptr<CameraSession>& session() const { return session_; }

    std::weak_ptr<VideoScanner> mScanner;
    // The camera record when opened from a camera button; none when opened by address.
    std::weak_ptr<CameraRecord> device;
    // The scanner's count of camera windows right after this one was added.
    int32_t number = 0;

private:
    enum class Variant { A, B, C };
    void teardown(Variant variant);
    // Waits for the policy's next wait, or gives up.
    void scheduleReconnect();
    void reconnectNow();
    void setReconnectingShown(bool shown);

    std::shared_ptr<CameraSession> session_;
    // Connecting again.
    ReconnectPolicy policy_;
    QTimer reconnectTimer_;
    // A session of this window has reported the camera's state; the window is closing.
    bool live_ = false;
    bool closing_ = false;
    // The camera's identity as its record last had it, for finding it again in discovery.
    std::string identity_;
    // For a window opened by address: the address and the password typed for it.
    bool byAddress_ = false;
    std::string address_;
    std::string typedPassword_;
    // Deleted with the controller; the window's parts go with it.
    std::unique_ptr<CameraWindow> window_;
};

}  // namespace vistamo
