#include "video/StatisticsOverlay.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QOpenGLWidget>
#include <QPainter>
#include <algorithm>

#include "video/GLFunctions.h"
#include "video/ShaderProgram.h"
#include "video/Vertex.h"

namespace vistamo {

namespace {

constexpr int kMarginPoints = 8;
constexpr int kPaddingPoints = 6;

}  // namespace

StatisticsOverlay::StatisticsOverlay(QOpenGLWidget* view)
    : view_(view), program_(std::make_unique<ShaderProgram>("shader.vsh", "buttonshader.fsh")) {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return;
    }
    // The whole viewport; the image's first row is its top.
    const VideoScreen quad = {
        {{-1, -1}, {0, 1}}, {{1, -1}, {1, 1}}, {{-1, 1}, {0, 0}}, {{1, 1}, {1, 0}}};
    gl->glGenVertexArrays(1, &vao_);
    gl->glGenBuffers(1, &vbo_);
    loadQuad(gl, vao_, vbo_, quad);
    gl->glGenTextures(1, &texture_);
}

StatisticsOverlay::~StatisticsOverlay() {
    ScopedContext scope(view_.data());
    QOpenGLFunctions_3_2_Core* gl = scope.active() ? currentGL() : nullptr;
    if (gl == nullptr) {
        return;
    }
    gl->glDeleteTextures(1, &texture_);
    gl->glDeleteVertexArrays(1, &vao_);
    gl->glDeleteBuffers(1, &vbo_);
    program_.reset();
}

void StatisticsOverlay::setLines(const QStringList& lines, qreal scale) {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr || texture_ == 0) {
        return;
    }
    QFont font;
    font.setStyleHint(QFont::Monospace);
    font.setFamily("monospace");
    font.setPointSizeF(10);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& line : lines) {
        width = std::max(width, metrics.horizontalAdvance(line));
    }
    const int padding = kPaddingPoints;
    const QSize points(width + 2 * padding,
                       metrics.lineSpacing() * static_cast<int>(lines.size()) + 2 * padding);
    QImage image(points * scale, QImage::Format_RGBA8888_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(QColor(0, 0, 0, 150));
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::white);
        int y = padding + metrics.ascent();
        for (const QString& line : lines) {
            painter.drawText(padding, y, line);
            y += metrics.lineSpacing();
        }
    }
    // The bar's shader blends by straight alpha.
    image = image.convertToFormat(QImage::Format_RGBA8888);
    size_ = image.size();
    gl->glBindTexture(GL_TEXTURE_2D, texture_);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    GLint alignment = 4;
    gl->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(image.bytesPerLine() / 4));
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, image.constBits());
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
}

void StatisticsOverlay::draw(const QRectF& area, double floor) {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr || size_.isEmpty() || !program_->linked()) {
        return;
    }
    const qreal scale = view_ ? view_->devicePixelRatioF() : 1.0;
    const double margin = kMarginPoints * scale;
    const double top = area.y() + area.height() - margin;
    const double bottom = top - size_.height();
    if (bottom < floor || area.width() < size_.width() + 2 * margin) {
        return;
    }
    gl->glViewport(static_cast<GLint>(area.x() + margin), static_cast<GLint>(bottom), size_.width(),
                   size_.height());
    program_->use();
    gl->glEnable(GL_BLEND);
    gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindVertexArray(vao_);
    gl->glBindTexture(GL_TEXTURE_2D, texture_);
    gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl->glBindVertexArray(0);
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    gl->glDisable(GL_BLEND);
    gl->glUseProgram(0);
}

}  // namespace vistamo
