#pragma once

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/GridPlace.h"
#include "video/GridGeometry.h"

namespace vistamo {

class VideoRenderer;

// One OpenGL widget that draws a tile per camera: the camera's latest picture at its aspect
// ratio, the camera's name under it. Each tile has a VideoRenderer of its own whose surface is
// this widget, so every tile's textures live in this one context and a tile's planes are
// uploaded only when its camera decoded a new picture. The uploads ask for a repaint, which
// comes at most once per refresh of the screen the widget is on, however many cameras
// uploaded meanwhile, and draws only the tiles with a new picture (the widget keeps its last
// paint): each through its renderer, limited to the tile's picture by a scissor, with its
// overlays. A change of size, layout, tiles or statuses paints everything, names included.
//
// The tiles are kept in the order they were added, each under a key of the caller's choosing
// (a camera's identity). The widget does not own the cameras: the caller adds each tile's
// renderer to its camera's session and removes it again before removing the tile.
//
// Main thread only.
class CameraGridView final : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit CameraGridView(QWidget* parent = nullptr);
    ~CameraGridView() override;

    // A tile for `key` at the end, and its renderer (the one already there when the key has
    // a tile).
    std::shared_ptr<VideoRenderer> addTile(const std::string& key, const QString& name);
    void removeTile(const std::string& key);
    void renameTile(const std::string& key, const QString& name);
    std::vector<std::string> tileKeys() const;
    std::shared_ptr<VideoRenderer> rendererOf(const std::string& key) const;

    // What a tile says besides its picture: its camera is being connected again (the last
    // picture dimmed under "Reconnecting…"), records (the red dot), or had a motion alarm a
    // moment ago (a highlighted frame), or waits for a password ("Password needed").
    struct TileStatus {
        bool reconnecting = false;
        bool recording = false;
        bool alarmed = false;
        // The camera asked for a password that was not given yet.
        bool passwordNeeded = false;
        friend bool operator==(const TileStatus&, const TileStatus&) = default;
    };
    void setTileStatus(const std::string& key, const TileStatus& status);

    // The tile a click chose (framed), whose camera plays its sound and takes the keys; none
    // before the first click.
    const std::optional<std::string>& focusedTile() const { return focused_; }
    void setOnFocusChanged(std::function<void()> handler) { onFocusChanged_ = std::move(handler); }
    // A key pressed while the grid has the keyboard, with the focused tile's key.
    void setOnKey(std::function<void(const std::string& tile, int key)> handler) {
        onKey_ = std::move(handler);
    }

    void setLayout(GridLayout layout);
    GridLayout layout() const { return layout_; }

    // Where `key`'s picture is drawn, in widget points; none while the tile has no cell or its
    // picture's size is not known yet.
    std::optional<QRect> pictureRectOf(const std::string& key) const;
    // The key of the tile whose cell holds `point` (widget points).
    std::optional<std::string> tileAt(QPoint point) const;

    // A double-click on a tile, with its key.
    void setOnTileDoubleClicked(std::function<void(const std::string&)> handler) {
        onTileDoubleClicked_ = std::move(handler);
    }

    // Paints drawn so far; for tests and the benchmark.
    uint64_t paintCount() const { return paintCount_; }

protected:
    void paintGL() override;
    void resizeGL(int width, int height) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Tile {
        std::string key;
        QString name;
        std::shared_ptr<VideoRenderer> renderer;
        float ratio = 0;  // width / height of the tile's pictures, 0 until the first one
        TileStatus status;
        bool fresh = false;  // a picture was uploaded since the last paint
    };

    std::vector<GridTileFrame> frames() const;
    // A repaint at the next refresh of the screen, unless one is due already.
    void requestRepaint();
    // Names, frames, dots and the dimming over the pictures of `tiles` (by index).
    // The names too, or the ones already drawn stay.
    enum class Names { Draw, Keep };
    void paintOverlays(const std::vector<GridTileFrame>& frames, const std::vector<bool>& tiles,
                       Names names);
    // The next paint draws everything, not only the tiles with a new picture.
    void repaintAll();
    // A debug line per tile whose picture moved since the last paint, in its window's points.
    void logPictureRects(const std::vector<GridTileFrame>& frames);

    // Main thread only.
    std::vector<Tile> tiles_;
    GridLayout layout_ = GridLayout::Automatic;
    std::function<void(const std::string&)> onTileDoubleClicked_;
    std::function<void()> onFocusChanged_;
    std::function<void(const std::string&, int)> onKey_;
    std::optional<std::string> focused_;
    uint64_t paintCount_ = 0;
    bool fullRepaint_ = true;
    QTimer repaintTimer_;  // single shot: the next refresh's repaint
    QElapsedTimer sinceLastPaint_;
    std::vector<std::pair<std::string, QRect>> loggedRects_;
};

}  // namespace vistamo
