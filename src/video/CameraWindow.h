#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/AudioEndpoint.h"
#include "platform/ReconnectPolicy.h"
#include "session/SessionView.h"
#include "video/CameraViewOwner.h"

class QMenuBar;

namespace vistamo {

class CameraSession;
class VideoScanner;
class CameraRecord;
class CameraViewController;
class CameraWebcam;
class PictureSink;
class VideoView;

// Drops a reference to a camera session so that, when it is the last one, the session is
// destroyed on a worker thread and never on the main thread: destroying it joins its decoder,
// whose thread may be waiting for the main thread to draw a frame. `keepAlive` (the window,
// say) is released afterwards on the main thread, so nothing drawn by the main thread goes away
// while the decoder may still deliver to it. Main thread.
void releaseSession(std::shared_ptr<CameraSession>&& session,
                    std::shared_ptr<void> keepAlive = nullptr);

// The window of one camera, and the one place where a camera window is put together and taken
// apart: it owns the camera's session and connects again when the camera drops.
//
// Building (`create`), in this order: the session with its decoder (made by the caller from
// its parts), the renderer (VideoRenderer), the view (VideoView, which makes its control bar),
// the video view controller (CameraViewController, given the renderer, the view and this window
// as its owner), this window (which takes the view as its child); then the session is attached.
// Taking apart runs the other way: `detach` unlinks the session and lets it go on a worker
// thread; the destructor then drops the video view controller (and with it the renderer), then
// the view and its bar.
//
// Ownership points down: the scanner's list owns the window (as do delayed calls still pending
// for it); the window owns the session, the video view controller and the view (a child
// widget); the video view controller owns the renderer; the view owns the bar. References up
// and across are weak or non-owning: the video view controller to this window (weak, through
// CameraViewOwner), to its view (a QPointer) and to the session (weak); the renderer to its
// view (a QPointer); the session to the video view controller's link object and the renderer.
//
// The session is linked to the window's parts only in `attach` and unlinked only in
// `detach`, so that a session can go while the window, renderer, view, bar and video view
// controller stay.
//
// Keys: each button of the bar has a letter (kBarButtonKeys) that does what a click on it does;
// R starts and stops recording; W switches the webcam; F11 and Esc for full screen.
//
// Webcam. With "Use as Webcam" on, the window offers its camera to other programs as a PipeWire
// camera and microphone (a CameraWebcam): `attach` gives each session the webcam's picture and
// sound sinks and `detach` takes them back, so the devices stay while the window connects again
// (showing the last picture, giving silence) and go when it closes or the webcam is switched
// off. The choice is the scanner's to remember per camera identity; a window whose camera was
// chosen switches it on as it opens, or once the camera's first state tells who it is.
//
// Closing. Closing the window (`close`, its close box, the close button of the bar, the session
// when the camera goes) runs the teardown twice: as the window closes, and after it has closed
// (which also clears the scanner's `isConnected`). Every run stops the renderer, frees the
// camera record, disconnects the session, takes the window out of the scanner's list, shows the
// scanner's window and, 0.3 s later, asks the scanner to destroy the window (`destroyWindow`,
// which detaches the session); that pending call keeps the window alive until it has run. Runs
// after the first have no further effect.
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
class CameraWindow final : public QWidget,
                           public CameraViewOwner,
                           public std::enable_shared_from_this<CameraWindow> {
    Q_OBJECT
    struct CreateToken {};

public:
    // Window size at opening, in points: room for the whole control bar.
    static constexpr int kInitialWidth = 960;
    static constexpr int kInitialHeight = 600;
    // Between closing and the scanner's `destroyWindow`.
    static constexpr double kDestroyDelaySeconds = 0.3;

    // Builds a camera window for `session` (none: a window without a camera) opened by
    // `scanner` from the camera record `device` (none for a window opened by address), with
    // the intercom on `microphone`; then `attach`. `number` 0; not shown.
    static std::shared_ptr<CameraWindow> create(
        std::shared_ptr<CameraSession> session = nullptr, std::weak_ptr<VideoScanner> scanner = {},
        std::shared_ptr<CameraRecord> device = nullptr,
        AudioEndpoint microphone = AudioEndpoint::systemDefault);
    explicit CameraWindow(CreateToken);
    ~CameraWindow() override;

    // Links `session` to this window, after detaching the one it had: it becomes
    // `session` and is attached to the video view controller (CameraViewController::attach).
    void attach(std::shared_ptr<CameraSession> session);
    // Unlinks the session from the window's parts and releases it with `releaseSession`,
    // keeping this window alive until then. The window keeps its last picture.
    void detach();
    // "VIDEO_FROM" followed by cameraName.
    void setTitle() override;
    // The camera's name; for a window opened by address, that address.
    std::string cameraName() const;
    // The camera's identity as settings files keep it ("uuid:..." or "address:..."); empty
    // while the window knows neither.
    std::string cameraIdentity() const;

    // Whether the camera is offered as a webcam now.
    bool usesWebcam() const { return webcam_ != nullptr; }
    // Offers the camera as a webcam, or stops, and has the scanner remember the choice; nothing
    // (and one log line) where PipeWire is absent.
    void setUsesWebcam(bool on);
    void toggleWebcam() { setUsesWebcam(!usesWebcam()); }

    // Closes the window: the teardown as it closes, then again once it has closed. Hides
    // QWidget::close: callers that close a camera window use this one.
    void close() override;
    // Shows the window and brings it to the front.
    void showWindow();
    // Full screen on, or back to the window it was; F11 and a double click on the picture do
    // this, Esc leaves full screen.
    void toggleFullScreen();
    // Puts `bar` (the application's menus) above the video; the window takes it over.
    void setMenuBar(QMenuBar* bar);

    const std::shared_ptr<CameraViewController>& viewController() const { return viewController_; }
    VideoView* view() const { return view_; }
    // The attached session, or none.
    const std::shared_ptr<CameraSession>& session() const { return session_; }

    // Another reader of the camera's pictures beside the window's renderer (a camera grid's
    // tile): added to the attached session and to every session attached later, until removed.
    void addPictureSink(std::weak_ptr<PictureSink> sink);
    void removePictureSink(const PictureSink* sink);
    // While set, the window's close box and Close Window only hide it, and the session goes on
    // for the other readers; `close` and the bar's close button still close it.
    void setHidesOnClose(bool hides) { hidesOnClose_ = hides; }
    bool hidesOnClose() const { return hidesOnClose_; }

    // The attached session ended for `why`. True when the window connects again (a verified
    // session dropped, or an attempt to connect again failed); false when it is to close.
    bool reconnectAfter(SessionEnd why) override;
    // The attached session reported the camera's state: the camera is there.
    void sessionLive() override;
    // Stops connecting again at once: no session is made after this.
    void stopReconnecting();
    // Between a drop and the camera's return (or the end of trying).
    bool reconnecting() const { return policy_.reconnecting(); }
    // For tests: where the policy's randomness comes from.
    void setReconnectPolicy(ReconnectPolicy policy) { policy_ = std::move(policy); }

    // The close button's first step: no more connecting again, the record free, out of the
    // scanner's list, the scanner shown.
    void letGoOfCamera() override;
    std::shared_ptr<VideoScanner> scanner() const override { return scanner_.lock(); }

    // Main thread only.
    // The camera record when opened from a camera button (a window that connects again may move
    // to discovery's newer record); none when opened by address.
    std::weak_ptr<CameraRecord> device;
    // The scanner's count of camera windows right after this one was added.
    int32_t number = 0;

protected:
    // Writes "window will close" and runs the teardown. A close that did not come through
    // `close` (the window manager's close box) also gets the second run that `close` adds.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The window is closing, or has closed (which also clears the scanner's `isConnected`).
    enum class Closing { Now, Done };
    void teardown(Closing step);
    void addKeys();
    // Switches the webcam on when the scanner remembers it for this camera.
    void applyWebcamChoice();
    // Waits for the policy's next wait, or gives up.
    void scheduleReconnect();
    void reconnectNow();
    void setReconnectingShown(bool shown);

    // Main thread only.
    std::weak_ptr<VideoScanner> scanner_;  // set by `create`
    std::shared_ptr<CameraSession> session_;
    // Destroyed before the view (a child widget), so the renderer goes while its view exists.
    std::shared_ptr<CameraViewController> viewController_;
    VideoView* view_ = nullptr;  // a child of the window, set by `create`
    // While the camera is offered as a webcam; linked to each attached session.
    std::unique_ptr<CameraWebcam> webcam_;
    bool inClose_ = false;
    bool hidesOnClose_ = false;
    std::vector<std::weak_ptr<PictureSink>> pictureSinks_;
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
};

}  // namespace vistamo
