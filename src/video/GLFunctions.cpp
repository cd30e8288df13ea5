#include "video/GLFunctions.h"

#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLWidget>

#include "video/Vertex.h"

namespace vistamo {

QOpenGLFunctions_3_2_Core* currentGL() {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr) {
        return nullptr;
    }
    auto* functions = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_2_Core>(context);
    // Returns at once once initialised; resolves the entry points on the first call.
    if (functions == nullptr || !functions->initializeOpenGLFunctions()) {
        return nullptr;
    }
    return functions;
}

void loadQuad(QOpenGLFunctions_3_2_Core* gl, GLuint vao, GLuint vbo, const VideoScreen& quad) {
    gl->glBindVertexArray(vao);
    gl->glBindBuffer(GL_ARRAY_BUFFER, vbo);
    gl->glBufferData(GL_ARRAY_BUFFER, sizeof(quad), &quad, GL_STATIC_DRAW);
    gl->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kVertexStride,
                              reinterpret_cast<const void*>(kVertexPositionOffset));
    gl->glEnableVertexAttribArray(0);
    gl->glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kVertexStride,
                              reinterpret_cast<const void*>(kVertexTextureOffset));
    gl->glEnableVertexAttribArray(1);
    gl->glBindVertexArray(0);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
}

ScopedContext::ScopedContext(QOpenGLWidget* widget) {
    if (widget == nullptr || widget->context() == nullptr) {
        return;
    }
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (current == widget->context()) {
        active_ = true;
        return;
    }
    previous_ = current;
    previousSurface_ = current != nullptr ? current->surface() : nullptr;
    widget->makeCurrent();
    switched_ = true;
    active_ = QOpenGLContext::currentContext() == widget->context();
}

ScopedContext::~ScopedContext() {
    if (!switched_) {
        return;
    }
    // The other context keeps its own framebuffer binding, so making it current again is all
    // a paint that was interrupted needs.
    if (previous_ && previousSurface_ != nullptr) {
        previous_->makeCurrent(previousSurface_);
    } else if (QOpenGLContext* current = QOpenGLContext::currentContext()) {
        current->doneCurrent();
    }
}

}  // namespace vistamo
