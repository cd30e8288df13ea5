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
#include "video/ControlBarGeometry.h"
#include "video/RecordingOverlay.h"

namespace vistamo {

class StatisticsOverlay;
class ControlBar;
class VideoRenderer;

// The OpenGL view of a camera window: fits the video into its bounds with the frame's aspect
// ratio, draws the frame and the control bar over it, and reports clicks. It owns the bar, made
// with the view; the bar is placed and drawn from the first frame on, with the camera's state
// as the view controller holds it.
//
// Its context (an OpenGL 3.2 core context of its own, not shared) exists from the first time
// the widget is shown; uploads arriving earlier are dropped. Every paint draws the video (or
// grey), then the bar, and the view presents it like any widget. Reparenting the view into
// another window recreates its context, which loses the renderer's and bar's objects: keep the
// view in the window it was first shown in.
//
// Main thread only.
class VideoView final : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit VideoView(QWidget* parent = nullptr);
    ~VideoView() override;

    // 3.2 core profile, colour 24, alpha 8, depth 32, double buffer.
    static QSurfaceFormat pixelFormat();

    // The renderer drawn in this view, held weakly (the view controller owns it); the view
    // becomes its surface, told the frames' ratio and reshaped when their size changes.
    void setVideo(const std::shared_ptr<VideoRenderer>& video);
    std::shared_ptr<VideoRenderer> renderer() const { return video_.lock(); }

    // Aspect ratio (width / height) of the frames, 0 until the first frame.
    float ratio() const { return ratio_; }
    // Stores the ratio. The renderer's upload calls it with the view's context current.
    void setRatio(float r) { ratio_ = r; }
    // Places the bar (once there is a frame) and the video viewport for the view's current size
    // in backing pixels.
    void reshape();
    // Draws the video and the bar. Context current (paintGL calls it).
    void render();

    // The bar; it has no bound (and is neither drawn nor hit) before the first frame.
    std::shared_ptr<ControlBar> controlBar() const { return bar_; }
    // What the bar shows (the view controller sets it); none: everything off.
    void setCameraStateSource(std::function<CameraState()> source) {
        cameraState_ = std::move(source);
    }

    // A problem the user can act on, as one line over the picture.
    void showNotice(const std::string& text);
    // Recording started or stopped: the red dot comes or goes.
    void recordingChanged() { update(); }
    // While the window connects again: the picture dimmed, "Reconnecting…" over it.
    void setReconnecting(bool shown);
    bool reconnectingShown() const { return reconnecting_; }
    RecordingOverlay& recordingOverlay() { return recordingOverlay_; }

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
        // While the camera publishes: bytes sent to the media server and pictures left out.
        struct Publishing {
            uint64_t bytesSent = 0;
            uint64_t picturesDropped = 0;
        };
        std::optional<Publishing> publishing;
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
    // The bar's button under `position` (widget coordinates), if any.
    std::optional<BarButton> buttonAt(QPointF position) const;

    void refreshStatistics();

    // Main thread only.
    float ratio_ = 0;
    std::weak_ptr<VideoRenderer> video_;
    std::shared_ptr<ControlBar> bar_;
    std::function<CameraState()> cameraState_;
    std::function<void(QPointF)> onMouseDown_;
    std::function<void()> onDoubleClick_;
    RecordingOverlay recordingOverlay_;
    bool reconnecting_ = false;
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
    uint64_t lastPublishedBytes_ = 0;
};

}  // namespace vistamo
