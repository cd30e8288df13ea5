#pragma once

#include <QOpenGLFunctions_3_2_Core>
#include <QPointer>

class QOpenGLContext;
class QOpenGLWidget;
class QSurface;

namespace vistamo {

// The OpenGL 3.2 core functions of the current context; none when no context is current or it
// cannot provide them. Main thread.
QOpenGLFunctions_3_2_Core* currentGL();

struct VideoScreen;

// Fills the vertex array `vao` with `quad` through the buffer `vbo` (both already generated):
// attribute 0 the position, attribute 1 the texture coordinate. Leaves nothing bound.
void loadQuad(QOpenGLFunctions_3_2_Core* gl, GLuint vao, GLuint vbo, const VideoScreen& quad);

// Makes a widget's context current for a scope and restores the context that was current
// before. `active()` is false when the widget or its context is gone.
class ScopedContext {
public:
    explicit ScopedContext(QOpenGLWidget* widget);
    ~ScopedContext();
    ScopedContext(const ScopedContext&) = delete;
    ScopedContext& operator=(const ScopedContext&) = delete;

    bool active() const { return active_; }

private:
    QPointer<QOpenGLContext> previous_;
    QSurface* previousSurface_ = nullptr;
    bool active_ = false;
    bool switched_ = false;
};

}  // namespace vistamo
