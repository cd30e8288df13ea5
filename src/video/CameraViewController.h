#pragma once

#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "dispatch/SerialQueue.h"
#include "media/AudioEndpoint.h"
#include "session/SessionView.h"
#include "video/ControlBarGeometry.h"
#include "video/DialogRunner.h"

namespace vistamo {

class CameraPublishing;
class CameraSession;
class CameraViewOwner;
class IntercomLink;
class PCMRecorder;
class SoundPlayer;
class VideoView;
class VideoRenderer;

// The video view controller of a camera window: owns the frame renderer of its view, turns
// clicks on the view into camera commands or local actions through the control bar's hit
// test, runs the intercom (microphone → Opus → camera) and takes snapshots with a shutter
// sound and a notice.
//
// It holds the camera's state (torch, screen, motion guard as the camera reports them, and
// whether the intercom runs); the bar only draws it.
//
// Ownership: the camera window owns the controller; the controller owns the renderer. It holds
// its view (a QPointer: the view is the window's child), the attached session and its window
// (through CameraViewOwner) weakly. The session reaches the controller through a small link
// object the controller owns (the session holds it weakly), and the recorder and the encoder
// deliver to another (IntercomLink), so neither the session's work for the main thread nor
// audio threads keep the controller (and the OpenGL objects under it) alive.
//
// Threads: everything here runs on the main thread, except the recorder's start and stop
// (on "record queue", asynchronously) and the intercom link (on the recorder's delivery
// thread).
class CameraViewController final : public std::enable_shared_from_this<CameraViewController> {
    struct CreateToken {};

public:
    using Clock = std::chrono::steady_clock;

    // A shutter click this long or less after the last accepted one is ignored.
    static constexpr std::chrono::milliseconds kShutterGuard{1300};
    // The close button closes the window this long after it has let go of the camera.
    static constexpr double kCloseDelaySeconds = 0.2;
    // Streams wider than this cannot switch to the front camera.
    static constexpr float kMaxSwitchWidth = 2000;

    // Makes the recorder (on `microphone`), the intercom encoder and "record queue"; takes
    // `video` (the renderer of `view`) and receives the view's clicks. The camera window's
    // assembly (CameraWindow::create) calls it, with the window as `owner`.
    static std::shared_ptr<CameraViewController> create(
        std::shared_ptr<VideoRenderer> video, VideoView& view, std::weak_ptr<CameraViewOwner> owner,
        AudioEndpoint microphone = AudioEndpoint::systemDefault);
    CameraViewController(CreateToken, std::shared_ptr<VideoRenderer> video, VideoView& view,
                         std::weak_ptr<CameraViewOwner> owner, AudioEndpoint microphone);
    ~CameraViewController();

    CameraViewController(const CameraViewController&) = delete;
    CameraViewController& operator=(const CameraViewController&) = delete;

    VideoView* videoView() const { return videoView_.data(); }

    // Writes "awake from nib" (the window has just been built around the controller).
    // Makes the intercom link the delegate of the recorder and the encoder; loads the shutter
    // sound (none when it cannot be loaded: snapshots then stay silent).
    void load();
    // Asks the window for its title.
    void beforeShow();
    // Stops the intercom if it runs, and the recording.
    void wasHidden();

    // Links `session` to the window's parts: the session reports to this controller and hands
    // its frames to the renderer; the commands, the intercom, the recording's red dot and the
    // statistics go to the session. `detach` stops the intercom and undoes every link, so that
    // the session may go while the window stays.
    void attach(const std::shared_ptr<CameraSession>& session);
    void detach();
    // The attached session while it exists, or none.
    std::shared_ptr<CameraSession> session() const { return session_.lock(); }

    const std::shared_ptr<VideoRenderer>& renderer() const { return renderer_; }
    // The camera's state as the bar shows it.
    const CameraState& cameraState() const { return state_; }

    // A click at `point` (the view's coordinates in points, origin at the bottom left).
    void mouseDown(QPointF point);
    // What a click on `button` of the bar does; also the window's keys.
    void performButton(BarButton button);

    // Starts or stops recording the camera (R, and Record in the menus).
    void toggleRecording();
    bool isRecording() const;

    // Publish Stream… (Ctrl+Shift+P): asks where to publish the camera (a sheet), or stops
    // publishing it.
    void togglePublishing();
    bool isPublishing() const;
    const std::shared_ptr<CameraPublishing>& publishing() const { return publishing_; }

    // Stops the intercom if it runs, then closes the window.
    void closeWindow();

    // Whether the intercom runs (the last toggle started it).
    bool intercomOn() const { return intercomOn_; }

    // Where a click at `point` focuses: (0, 0) at the video's top left, (1, 1) at its bottom
    // right, for video of aspect `ratio` fitted into `bounds` (points, origin at the bottom
    // left). None for a click on the bands beside the video, on its edge, or without a ratio.
    struct FocusPoint {
        double x = 0;
        double y = 0;
    };
    static std::optional<FocusPoint> focusPoint(QSizeF bounds, double ratio, QPointF point);

    // For tests: how dialogs are shown (answered) and what time it is.
    void setDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }
    void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

private:
    class SessionLink;

    // The bar shows the state at the next drawing.
    void redrawBar();
    void toggleIntercom();
    void stopIntercom();
    void setMuteMic(bool on);
    void shutter();
    void switchCamera();
    void closeButton();
    // The session's end: the window connects again or closes.
    void sessionEnded(SessionEnd why);
    void tapFocus(QPointF point);

    // Set once at creation.
    std::shared_ptr<PCMRecorder> recorder;
    std::shared_ptr<IntercomLink> intercom_;
    std::shared_ptr<dispatch::SerialQueue> recordQueue_;
    std::shared_ptr<CameraPublishing> publishing_;

    // Main thread only.
    std::shared_ptr<VideoRenderer> renderer_;
    QPointer<VideoView> videoView_;
    std::weak_ptr<CameraViewOwner> owner_;
    // Set by attach, cleared by detach; the window owns the session.
    std::weak_ptr<CameraSession> session_;
    std::shared_ptr<SessionLink> sessionLink_;  // the attached session holds it weakly
    CameraState state_;
    std::shared_ptr<SoundPlayer> shutterSound;
    std::optional<Clock::time_point> lastShutter;
    bool intercomOn_ = false;
    DialogRunner runner_ = showingDialogRunner();
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
};

}  // namespace vistamo
