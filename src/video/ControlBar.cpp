#include "video/ControlBar.h"

#include <QOpenGLWidget>
#include <string>

#include "platform/Log.h"
#include "video/GLFunctions.h"
#include "video/ImageTexture.h"
#include "video/ShaderProgram.h"

namespace vistamo {

namespace {

// For each button, the textures shown when its state is false and when it is true.
struct ButtonImages {
    int off;
    int on;
};
constexpr std::array<ButtonImages, BUTTONS> kButtonImages = {{
    {0, 6},    // flash
    {1, 7},    // speaker
    {2, 8},    // alarm
    {3, 9},    // microphone
    {4, 4},    // switch camera
    {5, 5},    // close
    {10, 10},  // shutter
}};

}  // namespace

ControlBar::ControlBar(QOpenGLWidget* view) : view_(view) {}

void ControlBar::makeObjects() {
    program_ = std::make_unique<ShaderProgram>("shader.vsh", "buttonshader.fsh");
    calculateVertices();
    loadTextures();
}

ControlBar::~ControlBar() {
    if (!program_) {
        return;  // never drawn: nothing was made
    }
    // Without its view the context is gone, and the objects with it.
    ScopedContext scope(view_.data());
    QOpenGLFunctions_3_2_Core* gl = scope.active() ? currentGL() : nullptr;
    if (gl == nullptr) {
        return;
    }
    gl->glDeleteVertexArrays(BUTTONS, VAO_.data());
    gl->glDeleteBuffers(BUTTONS, VBO_.data());
    // Textures and program delete themselves while their context is current.
    for (auto& texture : myTextures_) {
        texture.reset();
    }
    program_.reset();
}

void ControlBar::calculateVertices() {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return;
    }
    gl->glGenVertexArrays(BUTTONS, VAO_.data());
    gl->glGenBuffers(BUTTONS, VBO_.data());
    for (int index = 0; index < BUTTONS; ++index) {
        loadQuad(gl, VAO_[index], VBO_[index], buttonQuad(index));
    }
}

void ControlBar::loadTextures() {
    for (size_t index = 0; index < kImageNames.size(); ++index) {
        myTextures_[index] = ImageTexture::loadFromFile(kImageNames[index]);
        if (!myTextures_[index]) {
            logLine(std::string("Cannot load the button image \"") + kImageNames[index] +
                    "\"; its button is not drawn");
        }
    }
}

const ImageTexture* ControlBar::imageFor(int index, const CameraState& cameraState) const {
    if (index < 0 || index >= BUTTONS) {
        return nullptr;
    }
    bool state = false;
    switch (static_cast<BarButton>(index)) {
        case BarButton::Flash:
            state = cameraState.flash;
            break;
        case BarButton::Speaker:
            state = cameraState.screen;
            break;
        case BarButton::Alarm:
            state = cameraState.alarm;
            break;
        case BarButton::Microphone:
            state = cameraState.muteMic;
            break;
        default:
            break;
    }
    const ButtonImages images = kButtonImages[static_cast<size_t>(index)];
    return myTextures_[static_cast<size_t>(state ? images.on : images.off)].get();
}

void ControlBar::drawButton(const CameraState& state) {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr || !barBound_) {
        return;
    }
    if (!program_) {
        makeObjects();
    }
    if (!program_->linked()) {
        return;
    }
    gl->glViewport(static_cast<GLint>(barBound_->x()), static_cast<GLint>(barBound_->y()),
                   static_cast<GLsizei>(barBound_->width()),
                   static_cast<GLsizei>(barBound_->height()));
    program_->use();
    gl->glEnable(GL_BLEND);
    // Colour blends by the image's alpha; the framebuffer's own alpha stays opaque, so the
    // window behind the view never shows through a button.
    gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    gl->glActiveTexture(GL_TEXTURE0);
    for (int index = 0; index < BUTTONS; ++index) {
        const ImageTexture* image = imageFor(index, state);
        if (image == nullptr) {
            continue;
        }
        gl->glBindVertexArray(VAO_[static_cast<size_t>(index)]);
        gl->glBindTexture(GL_TEXTURE_2D, image->textureId());
        gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        gl->glBindVertexArray(0);
    }
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    gl->glDisable(GL_BLEND);
    gl->glUseProgram(0);
}

int ControlBar::checkClick(const QPointF& mousePoint) const {
    if (!barBound_) {
        return 0;
    }
    const BarHit hit = hitTestBar(*barBound_, mousePoint);
    if (hit.inBand) {
        debugLine("r = " + std::to_string(hit.button));
    }
    return hit.button >= 0 ? hit.button + 1 : 0;
}

}  // namespace vistamo
