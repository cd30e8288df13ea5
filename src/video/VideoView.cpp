#include "video/VideoView.h"

#include <QAction>
#include <QColor>
#include <QFont>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include "platform/Localization.h"
#include "video/ControlBar.h"
#include "video/GLFunctions.h"
#include "video/StatisticsOverlay.h"
#include "video/VideoGeometry.h"
#include "video/VideoRenderer.h"

namespace vistamo {

VideoView::VideoView(QWidget* parent)
    : QOpenGLWidget(parent), bar_(std::make_shared<ControlBar>(this)) {
    setFormat(pixelFormat());
    // Takes focus on a click, so that the view receives the window's input.
    setFocusPolicy(Qt::ClickFocus);
    auto* statistics = new QAction(this);
    statistics->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    statistics->setShortcutContext(Qt::WindowShortcut);
    connect(statistics, &QAction::triggered, this, [this] { toggleStatistics(); });
    addAction(statistics);
    statisticsTimer_ = new QTimer(this);
    statisticsTimer_->setInterval(1000);
    connect(statisticsTimer_, &QTimer::timeout, this, [this] { refreshStatistics(); });
}

VideoView::~VideoView() {
    // The bar's objects go now, while the context still exists; anyone still holding the bar
    // finds its view gone and leaves them to the context.
    ScopedContext scope(this);
    bar_.reset();
    statistics_.reset();
}

void VideoView::setStatisticsShown(bool shown) {
    statisticsShown_ = shown;
    if (shown) {
        lastRefresh_ = {};
        refreshStatistics();
        statisticsTimer_->start();
    } else {
        statisticsTimer_->stop();
        statisticsLines_.clear();
    }
    update();
}

void VideoView::refreshStatistics() {
    const auto renderer = video_.lock();
    const SessionFigures figures = statisticsSource_ ? statisticsSource_() : SessionFigures{};
    const DecoderStatistics& decoder = figures.decoder;
    const uint64_t shown = renderer ? renderer->uploadedFrames() : 0;
    const uint64_t dropped = decoder.droppedPictures + (renderer ? renderer->droppedFrames() : 0);
    const auto now = std::chrono::steady_clock::now();
    const double seconds = lastRefresh_ == std::chrono::steady_clock::time_point{}
                               ? 0
                               : std::chrono::duration<double>(now - lastRefresh_).count();
    const auto rate = [seconds](uint64_t now, uint64_t before) {
        return seconds > 0 ? static_cast<double>(now - std::min(now, before)) / seconds : 0.0;
    };
    const double shownRate = rate(shown, lastShown_);
    const double bitRate = 8 * rate(decoder.receivedBytes, lastBytes_) / 1e6;
    QStringList lines;
    const int width = renderer ? static_cast<int>(renderer->frame_width()) : 0;
    const int height = renderer ? static_cast<int>(renderer->frame_height()) : 0;
    lines << QString("picture   %1 x %2").arg(width).arg(height);
    lines << QString("shown     %1/s  dropped %2/s")
                 .arg(shownRate, 0, 'f', 1)
                 .arg(rate(dropped, lastDropped_), 0, 'f', 1);
    lines << QString("bit rate  %1 Mbit/s").arg(bitRate, 0, 'f', 2);
    lines << QString("decoding  %1 ms").arg(decoder.decodeMilliseconds, 0, 'f', 1);
    // Decoding, the pictures held for reordering, and one display refresh.
    const double interval = shownRate > 0 ? 1000 / shownRate : 0;
    const double latency = decoder.decodeMilliseconds + decoder.holdPictures * interval + 16.7;
    lines
        << QString("latency   ~%1 ms (hold %2)").arg(latency, 0, 'f', 0).arg(decoder.holdPictures);
    lines << (figures.playbackFill < 0
                  ? QString("sound     none")
                  : QString("sound     ring %1 %").arg(100 * figures.playbackFill, 0, 'f', 0));
    if (figures.publishing) {
        const auto& published = *figures.publishing;
        lines << QString("publish   %1 Mbit/s  dropped %2")
                     .arg(8 * rate(published.bytesSent, lastPublishedBytes_) / 1e6, 0, 'f', 2)
                     .arg(published.picturesDropped);
        lastPublishedBytes_ = published.bytesSent;
    }
    lastRefresh_ = now;
    lastShown_ = shown;
    lastDropped_ = dropped;
    lastBytes_ = decoder.receivedBytes;
    statisticsLines_ = lines;
    statisticsChanged_ = true;
    update();
}

QSurfaceFormat VideoView::pixelFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 2);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setDepthBufferSize(32);
    return format;
}

void VideoView::setVideo(const std::shared_ptr<VideoRenderer>& video) {
    video_ = video;
    if (video) {
        // The renderer calls this only while the view exists.
        video->setSurface(this, [this](float ratio) {
            setRatio(ratio);
            reshape();
        });
    }
}

void VideoView::reshape() {
    const auto scale = static_cast<float>(devicePixelRatioF());
    const float width = static_cast<float>(this->width()) * scale;
    const float height = static_cast<float>(this->height()) * scale;
    if (bar_ && ratio_ > 0) {
        bar_->setBarBound(barBoundFor(bar_->originBound(), width, scale));
    }
    const std::optional<VideoViewport> viewport = videoViewport(width, height, ratio_);
    if (!viewport) {
        return;
    }
    if (auto renderer = video_.lock()) {
        renderer->setViewport(*viewport);
    }
}

void VideoView::render() {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return;
    }
    // The whole view first: the bands beside the video, and everything while no frame shows.
    const auto scale = devicePixelRatioF();
    gl->glViewport(0, 0, static_cast<GLsizei>(width() * scale),
                   static_cast<GLsizei>(height() * scale));
    gl->glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    if (auto renderer = video_.lock()) {
        if (ratio_ == 0 && renderer->frame_height() > 0) {
            ratio_ = renderer->frame_width() / renderer->frame_height();
            reshape();
        }
        renderer->drawFrame();
    }
    if (bar_) {
        bar_->drawButton(cameraState_ ? cameraState_() : CameraState{});
    }
    if (statisticsShown_) {
        if (!statistics_) {
            statistics_ = std::make_unique<StatisticsOverlay>(this);
        }
        if (statisticsChanged_) {
            statistics_->setLines(statisticsLines_, scale);
            statisticsChanged_ = false;
        }
        const auto renderer = video_.lock();
        const VideoViewport area = renderer && renderer->frame_height() > 0
                                       ? renderer->viewport()
                                       : VideoViewport{0, 0, static_cast<float>(width() * scale),
                                                       static_cast<float>(height() * scale)};
        const auto barBound = bar_ ? bar_->barBound() : std::nullopt;
        statistics_->draw(QRectF(area.x, area.y, area.w, area.h),
                          barBound ? barBound->y() + barBound->height() : 0);
    }
}

bool VideoView::makeContextCurrent() {
    if (context() == nullptr) {
        return false;
    }
    makeCurrent();
    return true;
}

void VideoView::initializeGL() {}

void VideoView::resizeGL(int /*w*/, int /*h*/) { reshape(); }

void VideoView::paintGL() {
    render();
    if (const auto video = video_.lock(); video && ratio_ > 0) {
        recordingOverlay_.paintOver(*this, video->viewport(), backingScale());
    }
    if (reconnecting_) {
        // The whole view dimmed, bar included: nothing on it reaches the camera now.
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 0, 150));
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 1.6);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter,
                         QString::fromStdString(localizedString("RECONNECTING", "Reconnecting…")));
    }
}

void VideoView::setReconnecting(bool shown) {
    if (reconnecting_ != shown) {
        reconnecting_ = shown;
        update();
    }
}

void VideoView::showNotice(const std::string& text) {
    recordingOverlay_.showNotice(QString::fromStdString(text));
    update();
}

void VideoView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QOpenGLWidget::mousePressEvent(event);
        return;
    }
    const QPointF position = event->position();
    const QPointF point(position.x(), height() - position.y());
    if (auto handler = onMouseDown_) {
        handler(point);
    }
    event->accept();
}

std::optional<BarButton> VideoView::buttonAt(QPointF position) const {
    if (!bar_ || !bar_->barBound()) {
        return std::nullopt;
    }
    const qreal scale = backingScale();
    const BarHit hit = hitTestBar(*bar_->barBound(),
                                  QPointF(position.x() * scale, (height() - position.y()) * scale));
    if (hit.button < 0) {
        return std::nullopt;
    }
    return static_cast<BarButton>(hit.button);
}

void VideoView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Both presses of a double click have come as clicks already; on a button that is all.
    if (event->button() == Qt::LeftButton && !buttonAt(event->position()) && onDoubleClick_) {
        onDoubleClick_();
        event->accept();
        return;
    }
    QOpenGLWidget::mouseDoubleClickEvent(event);
}

bool VideoView::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QOpenGLWidget::event(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    if (const auto button = buttonAt(help->pos())) {
        QToolTip::showText(help->globalPos(), barButtonToolTip(*button), this);
    } else {
        QToolTip::hideText();
        event->ignore();
    }
    return true;
}

}  // namespace vistamo
