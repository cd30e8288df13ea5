#pragma once

#include <QOpenGLWidget>
#include <QPointF>
#include <QSizeF>
#include <QStringList>
#include <QSurfaceFormat>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "media/SessionDecoder.h"
#include "session/SessionView.h"
#include "video/ControlBarGeometry.h"
#include "video/RecordingOverlay.h"

namespace vistamo {

class StatisticsOverlay;
class ZControlBar;
class ZVideo;

// The OpenGL view of a camera window: fits the video into its bounds with the frame's aspect
// ratio, draws the frame and the control bar over it, and reports clicks.
//
// Its context (an OpenGL 3.2 core context of its own, not shared) exists from the first time
// the widget is shown; uploads arriving earlier are dropped. Every paint draws the video (or
// grey), then the bar, and the view presents it like any widget. Reparenting the view into
// another window recreates its context, which loses the renderer's and bar's objects: keep the
// view in the window it was first shown in.
//
// Main thread only.
class ZGLView final : public QOpenGLWidget, public SessionView {
    Q_OBJECT

public:
    explicit ZGLView(QWidget* parent = nullptr);
    ~ZGLView() override;

    // 3.2 core profile, colour 24, alpha 8, depth 32, double buffer.
    static QSurfaceFormat pixelFormat();

    // The renderer drawn in this view (held weakly: the view controller owns it).
    void setVideo(std::weak_ptr<ZVideo> video);
    std::shared_ptr<ZVideo> renderer() const { return video_.lock(); }

    // Aspect ratio (width / height) of the frames, 0 until the first frame.
    float ratio() const { return ratio_; }
    // Stores the ratio; makes the bar on the first call; copies the flash, screen and alarm
    // states held by the view into the bar on every call. Context current (the renderer's
    // upload calls it with the view's context current).
    void setRatio(float r);
    // Places the bar and the video viewport for the view's current size in backing pixels.
    void reshape();
    // Draws the video and the bar. Context current (paintGL calls it).
    void render();

    // The bar, once the first frame made it.
    std::shared_ptr<ZControlBar> controlBar() const { return bar_; }

    // ---- SessionView ----
    std::shared_ptr<SessionStatusTarget> bar() override;
    std::shared_ptr<SessionRenderer> video() override;
    // Calls the close handler, if one is set.
    void closeWindow() override;
    // States reported before the bar exists; copied into the bar by setRatio.
    void setFlash(bool on) override;
    void setScreen(bool on) override;
    void setAlarm(bool on) override;
    void showNotice(const std::string& text) override;
    void recordingChanged() override { update(); }
    RecordingOverlay& recordingOverlay() { return recordingOverlay_; }
    bool flash() const { return flash_; }
    bool screen() const { return screen_; }
    bool alarm() const { return alarm_; }

    // What the session holds (weakly) as this window's view: a small object owned by the view
    // that forwards to it while the view exists and does nothing afterwards, so that work the
    // session queued for the main thread never reaches a deleted widget.
    std::shared_ptr<SessionView> sessionView();

    // Set by the view controller.
    void setCloseWindowHandler(std::function<void()> handler) { onClose_ = std::move(handler); }
    // Called for every left-button press with the point in the view's coordinates, in points,
    // origin at the bottom left (the view fills its window).
    void setMouseDownHandler(std::function<void(QPointF)> handler) {
        onMouseDown_ = std::move(handler);
    }

    // Called for a double click on the picture (not on the bar).
    void setDoubleClickHandler(std::function<void()> handler) {
        onDoubleClick_ = std::move(handler);
    }

    // The view's bounds in points, and device pixels per point.
    QSizeF boundsInPoints() const { return QSizeF(width(), height()); }
    qreal backingScale() const { return devicePixelRatioF(); }

    // Makes the view's context current; false while the view has no context yet.
    bool makeContextCurrent();

    // ---- statistics over the video ----
    // What the session knows: the decoder's counters and the sound's playback ring fill.
    struct SessionFigures {
        DecoderStatistics decoder;
        double playbackFill = -1;
    };
    // Where the figures come from (the view controller sets it); none: the renderer's alone.
    void setStatisticsSource(std::function<SessionFigures()> source) {
        statisticsSource_ = std::move(source);
    }
    // Shows or hides the panel over the top left of the video, refreshed every second. Ctrl+I
    // toggles it; the camera window's menu calls toggleStatistics.
    void setStatisticsShown(bool shown);
    bool statisticsShown() const { return statisticsShown_; }
    void toggleStatistics() { setStatisticsShown(!statisticsShown_); }
    // The panel's current lines (empty while hidden).
    const QStringList& statisticsLines() const { return statisticsLines_; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Tooltips name the bar's buttons and their keys.
    bool event(QEvent* event) override;

private:
    class SessionAdaptor;

    // The bar's button under `position` (widget coordinates), if any.
    std::optional<BarButton> buttonAt(QPointF position) const;

    void refreshStatistics();

    // Main thread only.
    float ratio_ = 0;
    std::weak_ptr<ZVideo> video_;
    std::shared_ptr<ZControlBar> bar_;
    std::shared_ptr<SessionAdaptor> adaptor_;
    std::function<void()> onClose_;
    std::function<void(QPointF)> onMouseDown_;
    std::function<void()> onDoubleClick_;
    RecordingOverlay recordingOverlay_;
    bool alarm_ = false;
    bool screen_ = false;
    bool flash_ = false;
    std::function<SessionFigures()> statisticsSource_;
    bool statisticsShown_ = false;
    QTimer* statisticsTimer_ = nullptr;
    std::unique_ptr<StatisticsOverlay> statistics_;
    QStringList statisticsLines_;
    bool statisticsChanged_ = false;
    // The counters at the last refresh, for the rates.
    std::chrono::steady_clock::time_point lastRefresh_{};
    uint64_t lastShown_ = 0;
    uint64_t lastDropped_ = 0;
    uint64_t lastBytes_ = 0;
};

}  // namespace vistamo
