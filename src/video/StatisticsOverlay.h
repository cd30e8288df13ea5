#pragma once

#include <qopengl.h>

#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QStringList>
#include <memory>

class QOpenGLWidget;

namespace vistamo {

class ShaderProgram;

// A panel of text lines drawn over the video's top left corner the way the control bar draws
// its buttons: the text is painted into an image once when it changes, uploaded as a texture,
// and drawn as one blended quad with the bar's shader.
//
// Main thread only, with the view's context current for every call, construction and
// destruction included (when the view is gone first, the objects went with its context).
class StatisticsOverlay {
public:
    explicit StatisticsOverlay(QOpenGLWidget* view);
    ~StatisticsOverlay();
    StatisticsOverlay(const StatisticsOverlay&) = delete;
    StatisticsOverlay& operator=(const StatisticsOverlay&) = delete;

    // Paints `lines` at `scale` device pixels per point into the texture.
    void setLines(const QStringList& lines, qreal scale);

    // Draws the panel at the top left of `area` (backing pixels, origin at the bottom left),
    // with its lower edge never below `floor`: the bar below it stays uncovered. Nothing when
    // there is no room.
    void draw(const QRectF& area, double floor);

    // The panel's size in backing pixels; empty before the first lines.
    QSize size() const { return size_; }

private:
    QPointer<QOpenGLWidget> view_;
    std::unique_ptr<ShaderProgram> program_;
    GLuint vao_ = 0;
    GLuint vbo_ = 0;
    GLuint texture_ = 0;
    QSize size_;
};

}  // namespace vistamo
