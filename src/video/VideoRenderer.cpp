#include "video/VideoRenderer.h"

#include <string>

#include "dispatch/MainQueue.h"
#include "media/DecodedFrame.h"
#include "platform/Log.h"
#include "video/GLFunctions.h"
#include "video/ShaderProgram.h"

namespace vistamo {

namespace {

// Texture units of the three planes; the luma sampler is "videoFrame".
constexpr GLint kLumaUnit = 0;
constexpr GLint kCbUnit = 1;
constexpr GLint kCrUnit = 2;

}  // namespace

struct VideoRenderer::GLObjects {
    std::unique_ptr<ShaderProgram> program;
    GLint chromaScale = -1;
    GLint yuvMatrix = -1;
    GLint yuvOffset = -1;
    GLuint vao = 0;
    GLuint vbo = 0;
    std::array<GLuint, DecodedFrame::kPlaneCount> textures{};
    std::array<QSize, DecodedFrame::kPlaneCount> textureSizes{};
    // The conversion last given to the shader, so that it is set only when it changes.
    std::optional<std::pair<YuvMatrix, YuvRange>> conversion;
    QSizeF chromaScaleValue;
    GLint maxTextureSide = 0;

    // With the objects' context current.
    void deleteAll(QOpenGLFunctions_3_2_Core& gl) {
        gl.glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
        if (vao != 0) {
            gl.glDeleteVertexArrays(1, &vao);
        }
        if (vbo != 0) {
            gl.glDeleteBuffers(1, &vbo);
        }
        program.reset();
    }
};

VideoRenderer::VideoRenderer()
    : mailbox_(FrameMailbox::create(dispatch::mainQueue(),
                                    [this](const PixelBuffer& frame) { uploadFrame(frame); })) {}

VideoRenderer::~VideoRenderer() {
    // After this no upload runs, on any thread: a frame still in the mailbox is dropped.
    mailbox_->close();
    if (!gl_) {
        return;
    }
    // The session may drop the last reference on the decoder's thread; OpenGL objects are
    // deleted on the main thread, in the view's context. A view that is gone took its context,
    // and the objects with it.
    auto objects = std::shared_ptr<GLObjects>(std::move(gl_));
    auto release = [objects, surface = surface_] {
        ScopedContext scope(surface.data());
        QOpenGLFunctions_3_2_Core* gl = scope.active() ? currentGL() : nullptr;
        if (gl != nullptr) {
            objects->deleteAll(*gl);
        }
    };
    dispatch::Queue& main = dispatch::mainQueue();
    if (main.isCurrent()) {
        release();
    } else {
        main.async(std::move(release));
    }
}

void VideoRenderer::setSurface(QOpenGLWidget* surface,
                               std::function<void(float ratio)> frameSizeChanged,
                               std::function<void()> repaint) {
    surface_ = surface;
    frameSizeChanged_ = std::move(frameSizeChanged);
    repaint_ = std::move(repaint);
}

void VideoRenderer::streamRestarted() { firstFrame_.store(true); }

void VideoRenderer::pictureDecoded(const PixelBuffer& frame) {
    if (!frame || bClosing_.load()) {
        return;
    }
    if (dispatch::mainQueue().isCurrent()) {
        uploadFrame(frame);
    } else {
        mailbox_->post(frame);
    }
}

uint64_t VideoRenderer::droppedFrames() const { return mailbox_->dropped(); }

void VideoRenderer::uploadFrame(const PixelBuffer& frame) {
    if (!frame || bClosing_.load()) {
        return;
    }
    QOpenGLWidget* surface = surface_.data();
    if (surface == nullptr) {
        return;
    }
    ScopedContext scope(surface);
    QOpenGLFunctions_3_2_Core* gl = scope.active() ? currentGL() : nullptr;
    if (gl == nullptr) {
        return;  // not shown yet: no context to upload into
    }
    if (!ensureProgram()) {
        return;
    }
    applyGeometry(*frame);
    if (!allocateTextures(*frame)) {
        hasFrame_ = false;  // the textures may hold part of a frame of another size
        return;
    }

    GLint alignment = 4;
    gl->glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
        gl->glBindTexture(GL_TEXTURE_RECTANGLE, gl_->textures[index]);
        // One byte per sample, so the row length in pixels is the stride in bytes.
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, frame->stride(index));
        gl->glTexSubImage2D(GL_TEXTURE_RECTANGLE, 0, 0, 0, frame->planeWidth(index),
                            frame->planeHeight(index), GL_RED, GL_UNSIGNED_BYTE,
                            frame->plane(index));
    }
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    gl->glBindTexture(GL_TEXTURE_RECTANGLE, 0);

    const auto conversion = std::make_pair(frame->matrix(), frame->range());
    const QSizeF chromaScale(static_cast<double>(frame->planeWidth(1)) / frame->width(),
                             static_cast<double>(frame->planeHeight(1)) / frame->height());
    if (gl_->conversion != conversion || gl_->chromaScaleValue != chromaScale) {
        const YuvConversion values = yuvConversion(frame->matrix(), frame->range());
        gl_->program->use();
        gl->glUniformMatrix3fv(gl_->yuvMatrix, 1, GL_FALSE, values.matrix.data());
        gl->glUniform3fv(gl_->yuvOffset, 1, values.offset.data());
        gl->glUniform2f(gl_->chromaScale, static_cast<GLfloat>(chromaScale.width()),
                        static_cast<GLfloat>(chromaScale.height()));
        gl->glUseProgram(0);
        gl_->conversion = conversion;
        gl_->chromaScaleValue = chromaScale;
    }
    hasFrame_ = true;
    ++uploadedFrames_;
    if (repaint_) {
        repaint_();
    } else {
        surface->update();
    }
}

bool VideoRenderer::ensureProgram() {
    if (gl_) {
        return true;
    }
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return false;
    }
    gl_ = std::make_unique<GLObjects>();
    gl_->program = std::make_unique<ShaderProgram>("shader.vsh", "shader.fsh");
    gl_->chromaScale = gl_->program->uniformLocation("chromaScale");
    gl_->yuvMatrix = gl_->program->uniformLocation("yuvMatrix");
    gl_->yuvOffset = gl_->program->uniformLocation("yuvOffset");
    if (gl_->program->linked()) {
        gl_->program->use();
        gl->glUniform1i(gl_->program->uniformVideo(), kLumaUnit);
        gl->glUniform1i(gl_->program->uniformLocation("chromaB"), kCbUnit);
        gl->glUniform1i(gl_->program->uniformLocation("chromaR"), kCrUnit);
        gl->glUseProgram(0);
    }
    gl->glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &gl_->maxTextureSide);
    gl->glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
    return true;
}

// The stream's first frame, and every frame of a new size, sets ratio, viewport and quad. A
// frame of the same size after the camera announced a new stream simply ends the wait: the
// stream restarted with its old size, and there is nothing to rebuild.
void VideoRenderer::applyGeometry(const DecodedFrame& frame) {
    const auto width = static_cast<float>(frame.width());
    const auto height = static_cast<float>(frame.height());
    const bool newSize = width != frame_width_ || height != frame_height_;
    firstFrame_.store(false);
    if (!newSize) {
        return;
    }
    frame_width_ = width;
    frame_height_ = height;
    if (!surface_.isNull() && frameSizeChanged_) {
        frameSizeChanged_(frame_width_ / frame_height_);
    }
    loadBufferData();
}

bool VideoRenderer::allocateTextures(const DecodedFrame& frame) {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
        const QSize size(frame.planeWidth(index), frame.planeHeight(index));
        if (size.isEmpty() || size.width() > frame.width() || size.height() > frame.height() ||
            size.width() > gl_->maxTextureSide || size.height() > gl_->maxTextureSide) {
            if (!loggedFormat_) {
                logLine("Video frames of " + std::to_string(frame.width()) + "x" +
                        std::to_string(frame.height()) +
                        " cannot be drawn (plane layout or size); dropped");
                loggedFormat_ = true;
            }
            return false;
        }
        GLuint& texture = gl_->textures[index];
        if (texture == 0) {
            gl->glGenTextures(1, &texture);
        }
        if (gl_->textureSizes[index] == size) {
            continue;
        }
        // New storage for a new size only; frames of the same size update it in place.
        gl->glBindTexture(GL_TEXTURE_RECTANGLE, texture);
        gl->glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_R8, size.width(), size.height(), 0, GL_RED,
                         GL_UNSIGNED_BYTE, nullptr);
        // Rectangle textures only clamp; repeating is not defined for them.
        gl->glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl_->textureSizes[index] = size;
    }
    gl->glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    return true;
}

void VideoRenderer::loadBufferData() {
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr || !gl_) {
        return;
    }
    if (gl_->vao != 0) {
        gl->glDeleteVertexArrays(1, &gl_->vao);
    }
    if (gl_->vbo != 0) {
        gl->glDeleteBuffers(1, &gl_->vbo);
    }
    const VideoScreen quad = videoQuad(frame_width_, frame_height_);
    gl->glGenVertexArrays(1, &gl_->vao);
    gl->glGenBuffers(1, &gl_->vbo);
    loadQuad(gl, gl_->vao, gl_->vbo, quad);
}

void VideoRenderer::drawFrame() {
    if (firstFrame_.load() || !hasFrame_ || !gl_) {
        return;
    }
    QOpenGLFunctions_3_2_Core* gl = currentGL();
    if (gl == nullptr) {
        return;
    }
    gl->glViewport(static_cast<GLint>(viewport_.x), static_cast<GLint>(viewport_.y),
                   static_cast<GLsizei>(viewport_.w), static_cast<GLsizei>(viewport_.h));
    gl->glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glBindVertexArray(gl_->vao);
    gl_->program->use();
    for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
        gl->glActiveTexture(GL_TEXTURE0 + index);
        gl->glBindTexture(GL_TEXTURE_RECTANGLE, gl_->textures[index]);
    }
    gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    for (int index = DecodedFrame::kPlaneCount - 1; index >= 0; --index) {
        gl->glActiveTexture(GL_TEXTURE0 + index);
        gl->glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    }
    gl->glBindVertexArray(0);
}

std::array<GLuint, 3> VideoRenderer::planeTextures() const {
    return gl_ ? gl_->textures : std::array<GLuint, 3>{};
}

}  // namespace vistamo
