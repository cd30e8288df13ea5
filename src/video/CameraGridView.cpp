#include "video/CameraGridView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/Localization.h"
#include "platform/Log.h"
#include "video/GLFunctions.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"

namespace vistamo {

CameraGridView::CameraGridView(QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(VideoView::pixelFormat());
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setTimerType(Qt::PreciseTimer);
    repaintTimer_.callOnTimeout([this] { update(); });
    // Only tiles with a new picture are drawn again; the rest of the last paint stays.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    setMinimumSize(160, 120);
    setFocusPolicy(Qt::StrongFocus);
}

CameraGridView::~CameraGridView() = default;

std::shared_ptr<VideoRenderer> CameraGridView::addTile(const std::string& key,
                                                       const QString& name) {
    if (auto existing = rendererOf(key)) {
        return existing;
    }
    auto renderer = std::make_shared<VideoRenderer>();
    // Called with this widget's context current, only while the widget exists.
    renderer->setSurface(
        this,
        [this, key](float ratio) {
            for (Tile& tile : tiles_) {
                if (tile.key == key) {
                    tile.ratio = ratio;
                }
            }
            repaintAll();
        },
        [this, key] {
            for (Tile& tile : tiles_) {
                if (tile.key == key) {
                    tile.fresh = true;
                }
            }
            requestRepaint();
        });
    tiles_.push_back(Tile{key, name, renderer, 0, {}, false});
    repaintAll();
    return renderer;
}

void CameraGridView::removeTile(const std::string& key) {
    if (focused_ == key) {
        focused_.reset();
    }
    if (auto renderer = rendererOf(key)) {
        renderer->setBClosing(true);  // a picture already posted is not uploaded
    }
    std::erase_if(tiles_, [&](const Tile& tile) { return tile.key == key; });
    repaintAll();
}

void CameraGridView::renameTile(const std::string& key, const QString& name) {
    for (Tile& tile : tiles_) {
        if (tile.key == key && tile.name != name) {
            tile.name = name;
            repaintAll();
        }
    }
}

std::vector<std::string> CameraGridView::tileKeys() const {
    std::vector<std::string> keys;
    for (const Tile& tile : tiles_) {
        keys.push_back(tile.key);
    }
    return keys;
}

std::shared_ptr<VideoRenderer> CameraGridView::rendererOf(const std::string& key) const {
    for (const Tile& tile : tiles_) {
        if (tile.key == key) {
            return tile.renderer;
        }
    }
    return nullptr;
}

void CameraGridView::setLayout(GridLayout layout) {
    if (layout_ != layout) {
        layout_ = layout;
        repaintAll();
    }
}

std::vector<GridTileFrame> CameraGridView::frames() const {
    std::vector<float> ratios;
    ratios.reserve(tiles_.size());
    for (const Tile& tile : tiles_) {
        ratios.push_back(tile.ratio);
    }
    return gridTileFrames(layout_, ratios, size());
}

std::optional<QRect> CameraGridView::pictureRectOf(const std::string& key) const {
    const auto cells = frames();
    for (size_t index = 0; index < cells.size(); ++index) {
        if (tiles_[index].key == key && !cells[index].picture.isEmpty()) {
            return cells[index].picture;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CameraGridView::tileAt(QPoint point) const {
    const auto cells = frames();
    for (size_t index = 0; index < cells.size(); ++index) {
        if (cells[index].cell.contains(point)) {
            return tiles_[index].key;
        }
    }
    return std::nullopt;
}

void CameraGridView::requestRepaint() {
    if (repaintTimer_.isActive()) {
        return;
    }
    const QScreen* shown = screen();
    const double refreshHz =
        shown != nullptr && shown->refreshRate() > 1 ? shown->refreshRate() : 60;
    const auto periodMs = static_cast<qint64>(1000 / refreshHz);
    const qint64 elapsedMs = sinceLastPaint_.isValid() ? sinceLastPaint_.elapsed() : periodMs;
    repaintTimer_.start(static_cast<int>(std::max<qint64>(0, periodMs - elapsedMs)));
}

void CameraGridView::paintGL() {
    ++paintCount_;
    sinceLastPaint_.start();
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return;
    }
    const qreal scale = devicePixelRatioF();
    const auto backingHeight = static_cast<GLint>(std::lround(height() * scale));
    const bool full = fullRepaint_;
    fullRepaint_ = false;
    if (full) {
        gl->glViewport(0, 0, static_cast<GLsizei>(std::lround(width() * scale)), backingHeight);
        gl->glClearColor(0.12f, 0.12f, 0.12f, 1.0f);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }

    const auto cells = frames();
    std::vector<bool> drawn(cells.size(), false);
    // Each renderer clears and fills its own viewport; the scissor keeps its clear there.
    gl->glEnable(GL_SCISSOR_TEST);
    for (size_t index = 0; index < cells.size(); ++index) {
        const QRect& picture = cells[index].picture;
        const bool fresh = std::exchange(tiles_[index].fresh, false);
        if (picture.isEmpty() || (!full && !fresh)) {
            continue;
        }
        // Backing pixels, origin at the bottom left.
        const auto x = static_cast<GLint>(std::lround(picture.left() * scale));
        const auto w = static_cast<GLsizei>(std::lround(picture.width() * scale));
        const auto h = static_cast<GLsizei>(std::lround(picture.height() * scale));
        const auto y = backingHeight - static_cast<GLint>(std::lround(picture.top() * scale)) - h;
        VideoRenderer& renderer = *tiles_[index].renderer;
        renderer.setViewport(VideoViewport{static_cast<float>(x), static_cast<float>(y),
                                           static_cast<float>(w), static_cast<float>(h)});
        gl->glScissor(x, y, w, h);
        renderer.drawFrame();
        drawn[index] = true;
    }
    gl->glDisable(GL_SCISSOR_TEST);
    // A name lies beside its picture: drawn again over itself, its edges would thicken.
    if (full) {
        paintOverlays(cells, std::vector<bool>(cells.size(), true), Names::Draw);
    } else {
        paintOverlays(cells, drawn, Names::Keep);
    }
    logPictureRects(cells);
}

void CameraGridView::resizeGL(int /*width*/, int /*height*/) { fullRepaint_ = true; }

void CameraGridView::repaintAll() {
    fullRepaint_ = true;
    update();
}

void CameraGridView::logPictureRects(const std::vector<GridTileFrame>& frames) {
    std::vector<std::pair<std::string, QRect>> rects;
    for (size_t index = 0; index < frames.size(); ++index) {
        if (!frames[index].picture.isEmpty()) {
            const QRect& picture = frames[index].picture;
            rects.emplace_back(tiles_[index].key,
                               QRect(mapTo(window(), picture.topLeft()), picture.size()));
        }
    }
    for (const auto& [key, rect] : rects) {
        const bool known = std::find(loggedRects_.begin(), loggedRects_.end(),
                                     std::pair{key, rect}) != loggedRects_.end();
        if (!known) {
            const QString name = std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& tile) {
                                     return tile.key == key;
                                 })->name;
            debugLine("grid tile \"" + name.toStdString() + "\" shows its picture at " +
                      std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
                      std::to_string(rect.width()) + "x" + std::to_string(rect.height()) +
                      " in its window");
        }
    }
    loggedRects_ = std::move(rects);
}

void CameraGridView::paintOverlays(const std::vector<GridTileFrame>& frames,
                                   const std::vector<bool>& tiles, Names names) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (size_t index = 0; index < frames.size(); ++index) {
        if (!tiles[index]) {
            continue;
        }
        const Tile& tile = tiles_[index];
        const GridTileFrame& frame = frames[index];
        const QRect picture = frame.picture.isEmpty()
                                  ? frame.cell.adjusted(0, 0, 0, -frame.name.height())
                                  : frame.picture;
        if (tile.status.reconnecting) {
            painter.fillRect(picture, QColor(0, 0, 0, 150));
            painter.setPen(Qt::white);
            painter.drawText(
                picture, Qt::AlignCenter,
                QString::fromStdString(localizedString("RECONNECTING", "Reconnecting…")));
        }
        if (tile.status.passwordNeeded) {
            painter.setPen(Qt::white);
            painter.drawText(
                picture, Qt::AlignCenter,
                QString::fromStdString(localizedString("PASSWORD_NEEDED", "Password needed")));
        }
        if (tile.status.recording) {
            const int radius = std::clamp(picture.height() / 24, 4, 9);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(230, 30, 30));
            painter.drawEllipse(QPoint(picture.right() - 2 * radius, picture.top() + 2 * radius),
                                radius, radius);
            painter.setBrush(Qt::NoBrush);
        }
        if (tile.status.alarmed) {
            painter.setPen(QPen(QColor(255, 170, 0), 4));
            painter.drawRect(picture.adjusted(2, 2, -2, -2));
        } else if (focused_ == tile.key) {
            painter.setPen(QPen(QColor(255, 255, 255, 200), 2));
            painter.drawRect(picture.adjusted(1, 1, -1, -1));
        }
        if (names == Names::Draw) {
            painter.setPen(Qt::white);
            const QRect& line = frame.name;
            painter.drawText(
                line.adjusted(4, 0, -4, 0), Qt::AlignCenter,
                painter.fontMetrics().elidedText(tile.name, Qt::ElideRight, line.width() - 8));
        }
    }
}

void CameraGridView::setTileStatus(const std::string& key, const TileStatus& status) {
    for (Tile& tile : tiles_) {
        if (tile.key == key && !(tile.status == status)) {
            tile.status = status;
            repaintAll();
        }
    }
}

void CameraGridView::mousePressEvent(QMouseEvent* event) {
    const auto key = tileAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && key && key != focused_) {
        focused_ = key;
        repaintAll();
        if (onFocusChanged_) {
            onFocusChanged_();
        }
    }
    QOpenGLWidget::mousePressEvent(event);
}

void CameraGridView::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && focused_ && onKey_ && !event->isAutoRepeat()) {
        onKey_(*focused_, event->key());
        return;
    }
    QOpenGLWidget::keyPressEvent(event);
}

void CameraGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    const auto key = tileAt(event->position().toPoint());
    if (key && event->button() == Qt::LeftButton && onTileDoubleClicked_) {
        onTileDoubleClicked_(*key);
        return;
    }
    QOpenGLWidget::mouseDoubleClickEvent(event);
}

}  // namespace vistamo
