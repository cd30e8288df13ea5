#include "video/GLFunctions.h"

#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLWidget>

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
