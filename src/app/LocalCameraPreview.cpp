#include "app/LocalCameraPreview.h"

#include <pthread.h>

#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QSurfaceFormat>
#include <array>

#include "app/V4L2FrameSource.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr GLuint kPositionAttribute = 0;
constexpr GLuint kTextureAttribute = 1;

const char* const kVertexShader = R"(#version 150
in vec2 position;
in vec2 texCoord;
out vec2 textureCoordinate;
void main() {
    gl_Position = vec4(position, 0.0, 1.0);
    textureCoordinate = texCoord;
}
)";

// The camera picture keeps its own alpha; the canvas adds its colour in proportion to its
// alpha, scaled by the mix.
const char* const kFragmentShader = R"(#version 150
in vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform float mixturePercent;
out vec4 fragColor;
void main() {
    vec4 base = texture(inputImageTexture, textureCoordinate);
    vec4 overlay = texture(inputImageTexture2, textureCoordinate);
    fragColor = vec4(mix(base.rgb, overlay.rgb, overlay.a * mixturePercent), base.a);
}
)";

// Position (x, y) and texture coordinate (s, t) of the four corners, one triangle strip; the
// first row of an uploaded picture is its top row, at t = 0.
constexpr std::array<GLfloat, 16> kQuad = {
    -1.f, 1.f,  0.f, 0.f,  //
    -1.f, -1.f, 0.f, 1.f,  //
    1.f,  1.f,  1.f, 0.f,  //
    1.f,  -1.f, 1.f, 1.f,  //
};

}  // namespace

LocalCameraPreview::LocalCameraPreview(QImage canvas, QWidget* parent)
    : QOpenGLWidget(parent), canvas_(std::move(canvas)) {
    QSurfaceFormat format;
    format.setVersion(3, 2);
    format.setProfile(QSurfaceFormat::CoreProfile);
    setFormat(format);
}

LocalCameraPreview::~LocalCameraPreview() {
    stop();
    // The base class destroys the context later; by then this object is gone.
    disconnect(contextConnection_);
    if (context() != nullptr) {
        makeCurrent();
        releaseGl();
        doneCurrent();
    }
}

std::optional<std::string> LocalCameraPreview::start() {
    return start(std::make_unique<V4L2FrameSource>());
}

std::optional<std::string> LocalCameraPreview::start(std::unique_ptr<PreviewFrameSource> source) {
    stop();
    if (!source) {
        return std::string("no camera");
    }
    if (auto error = source->open()) {
        return error;
    }
    source_ = std::move(source);
    stopping_ = false;
    reading_ = true;
    reader_ = std::thread([this] { readLoop(); });
    return std::nullopt;
}

void LocalCameraPreview::stop() {
    stopping_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
    reading_ = false;
    source_.reset();
    std::lock_guard lock(pendingMutex_);
    pending_ = QImage();
}

void LocalCameraPreview::readLoop() {
    pthread_setname_np(pthread_self(), "camera preview");
    while (!stopping_.load()) {
        std::optional<QImage> image = source_->readFrame(stopping_);
        if (!image) {
            break;
        }
        if (stopping_.load() || image->isNull()) {
            continue;
        }
        if (image->format() != QImage::Format_RGBA8888) {
            *image = image->convertToFormat(QImage::Format_RGBA8888);
        }
        bool post = false;
        {
            std::lock_guard lock(pendingMutex_);
            pending_ = std::move(*image);
            post = !deliveryPosted_;
            deliveryPosted_ = true;
        }
        // A call still queued when the surface is destroyed is discarded with it.
        if (post) {
            QMetaObject::invokeMethod(
                this, [this] { takeFrame(); }, Qt::QueuedConnection);
        }
    }
    reading_ = false;
}

void LocalCameraPreview::takeFrame() {
    QImage frame;
    {
        std::lock_guard lock(pendingMutex_);
        frame = std::move(pending_);
        pending_ = QImage();
        deliveryPosted_ = false;
    }
    if (frame.isNull()) {
        return;
    }
    shown_ = std::move(frame);
    shownChanged_ = true;
    ++framesReceived_;
    update();
}

void LocalCameraPreview::initializeGL() {
    disconnect(contextConnection_);
    contextConnection_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGl();
        doneCurrent();
    });
    if (!initializeOpenGLFunctions()) {
        logLine("the camera preview needs OpenGL 3.2; it stays black");
        return;
    }
    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    program_->bindAttributeLocation("position", kPositionAttribute);
    program_->bindAttributeLocation("texCoord", kTextureAttribute);
    if (!program_->link()) {
        logLine("the camera preview's shaders do not build: " + program_->log().toStdString());
        program_.reset();
        return;
    }
    program_->bind();
    program_->setUniformValue("inputImageTexture", 0);
    program_->setUniformValue("inputImageTexture2", 1);
    program_->setUniformValue("mixturePercent", kMix);
    program_->release();

    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    glGenBuffers(1, &vertexBuffer_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, sizeof kQuad, kQuad.data(), GL_STATIC_DRAW);
    constexpr GLsizei stride = 4 * sizeof(GLfloat);
    glEnableVertexAttribArray(kPositionAttribute);
    glVertexAttribPointer(kPositionAttribute, 2, GL_FLOAT, GL_FALSE, stride, nullptr);
    glEnableVertexAttribArray(kTextureAttribute);
    glVertexAttribPointer(kTextureAttribute, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(2 * sizeof(GLfloat)));
    glBindVertexArray(0);

    const auto makeTexture = [this] {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        return texture;
    };
    frameTexture_ = makeTexture();
    canvasTexture_ = makeTexture();
    // The shader blends with straight alpha; an empty canvas becomes one transparent texel.
    QImage canvas = canvas_.isNull() ? QImage(1, 1, QImage::Format_RGBA8888)
                                     : canvas_.convertToFormat(QImage::Format_RGBA8888);
    if (canvas_.isNull()) {
        canvas.fill(Qt::transparent);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(canvas.bytesPerLine() / 4));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, canvas.width(), canvas.height(), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, canvas.constBits());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    frameTextureSize_ = QSize();
    shownChanged_ = true;
    glReady_ = true;
}

void LocalCameraPreview::paintGL() {
    if (!glReady_) {
        return;
    }
    glClearColor(0.f, 0.f, 0.f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (shown_.isNull()) {
        return;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, frameTexture_);
    if (shownChanged_) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(shown_.bytesPerLine() / 4));
        if (shown_.size() != frameTextureSize_) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, shown_.width(), shown_.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, shown_.constBits());
            frameTextureSize_ = shown_.size();
        } else {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, shown_.width(), shown_.height(), GL_RGBA,
                            GL_UNSIGNED_BYTE, shown_.constBits());
        }
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        shownChanged_ = false;
    }
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, canvasTexture_);

    // The largest rectangle of the picture's proportions, centred.
    const qreal ratio = devicePixelRatioF();
    const double surfaceWidth = width() * ratio;
    const double surfaceHeight = height() * ratio;
    const double scale = std::min(surfaceWidth / shown_.width(), surfaceHeight / shown_.height());
    const int drawWidth = static_cast<int>(shown_.width() * scale + 0.5);
    const int drawHeight = static_cast<int>(shown_.height() * scale + 0.5);
    glViewport(static_cast<GLint>((surfaceWidth - drawWidth) / 2),
               static_cast<GLint>((surfaceHeight - drawHeight) / 2), drawWidth, drawHeight);

    program_->bind();
    glBindVertexArray(vertexArray_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    program_->release();
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void LocalCameraPreview::releaseGl() {
    if (!glReady_) {
        return;
    }
    glDeleteTextures(1, &frameTexture_);
    glDeleteTextures(1, &canvasTexture_);
    glDeleteBuffers(1, &vertexBuffer_);
    glDeleteVertexArrays(1, &vertexArray_);
    frameTexture_ = canvasTexture_ = vertexBuffer_ = vertexArray_ = 0;
    program_.reset();
    frameTextureSize_ = QSize();
    glReady_ = false;
}

}  // namespace vistamo
