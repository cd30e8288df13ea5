#pragma once

#include <qopengl.h>

#include <QOpenGLWidget>
#include <QPointer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "media/FrameMailbox.h"
#include "media/PictureSink.h"
#include "media/PixelBuffer.h"
#include "video/VideoGeometry.h"

namespace vistamo {

class ShaderProgram;

// The frame renderer of one video view: keeps the latest decoded frame as three rectangle
// textures (one GL_R8 texture per Y'CbCr plane, each at its own size) and draws it as one quad
// into the view's video viewport, converting to RGB in the shader with the frame's own matrix
// and range.
//
// Making one: construct on the main thread, give it to its view (`VideoView::setVideo`, which
// makes the view this renderer's surface) and add it to the session's picture sinks. No OpenGL
// context is needed for that: the program and the textures are made with the view's context the
// first time it is used. The renderer knows its view only as an OpenGL widget (a QPointer, not
// owning) and a callback, so its source needs nothing of VideoView.
//
// Presenting: a frame arriving from the decoder is left in a one-picture mailbox for the main
// thread and the decoder's thread goes on at once; a newer frame replaces one the main thread
// has not taken yet (counted as dropped). On the main thread the newest frame is uploaded with
// the view's context made current, then the view is asked to repaint (QWidget::update), and its
// paint draws the frame and the bar. Every view presents its own drawing, however many windows
// are open.
//
// Lifetime: the decoder may hold the last reference on its thread; the destructor then hands the
// OpenGL objects to the main thread for deletion with the view's context.
class VideoRenderer final : public PictureSink {
public:
    // Main thread.
    VideoRenderer();
    ~VideoRenderer() override;
    VideoRenderer(const VideoRenderer&) = delete;
    VideoRenderer& operator=(const VideoRenderer&) = delete;

    // Main thread: the widget whose context holds this renderer's OpenGL objects and which
    // repaints after each upload, and what to call, with that context current, when the frames'
    // size changes (their width / height). `frameSizeChanged` is called only while `surface`
    // exists. `repaint`, when given, is asked after each upload instead of the surface's own
    // update (a surface drawing several renderers paces its paints itself). Set once, before
    // the first frame.
    void setSurface(QOpenGLWidget* surface, std::function<void(float ratio)> frameSizeChanged,
                    std::function<void()> repaint = {});

    // ---- any thread ----
    // The camera's stream starts anew: nothing is drawn until the next frame arrives.
    void streamRestarted() override;
    bool firstFrame() const { return firstFrame_.load(); }
    // Set when the window closes; from then on frames are dropped on the calling thread,
    // without reaching the main thread.
    void setBClosing(bool closing) { bClosing_.store(closing); }
    bool bClosing() const { return bClosing_.load(); }

    // The decoder's thread: leaves `frame` for the main thread and returns at once. On the main
    // thread itself the frame is uploaded before the call returns.
    void pictureDecoded(const PixelBuffer& frame) override;
    // Frames replaced in the mailbox before the main thread took them.
    uint64_t droppedFrames() const;

    // ---- main thread ----
    // The upload step itself, on the main thread: the geometry follows the frame's size, the
    // planes go into the textures, and the view is asked to repaint. Frames arriving before the
    // view has its context (before it is first shown), or of a format the shader cannot draw,
    // are dropped.
    void uploadFrame(const PixelBuffer& frame);
    // Draws the current frame into the viewport; nothing while `firstFrame` is set or before the
    // first upload. The view's context must be current (the view's paint calls it).
    void drawFrame();
    // Rebuilds the quad for the current frame size, deleting the previous one. Context current.
    void loadBufferData();

    // Size of the frames shown, 0 until the first frame.
    float frame_width() const { return frame_width_; }
    float frame_height() const { return frame_height_; }
    // Where the frame is drawn, backing pixels; set by the view's reshape.
    void setViewport(const VideoViewport& viewport) { viewport_ = viewport; }
    const VideoViewport& viewport() const { return viewport_; }

    // The plane textures (0 before the first upload): the same names as long as the frame size
    // stays the same. For tests and the benchmark.
    std::array<GLuint, 3> planeTextures() const;
    // Frames uploaded so far.
    uint64_t uploadedFrames() const { return uploadedFrames_; }

private:
    struct GLObjects;  // every OpenGL name this renderer made, deleted together

    bool ensureProgram();
    bool allocateTextures(const DecodedFrame& frame);
    void applyGeometry(const DecodedFrame& frame);

    // Any thread.
    std::shared_ptr<FrameMailbox> mailbox_;
    std::atomic<bool> firstFrame_{true};
    std::atomic<bool> bClosing_{false};

    // Main thread only.
    QPointer<QOpenGLWidget> surface_;
    std::function<void(float ratio)> frameSizeChanged_;
    std::function<void()> repaint_;
    float frame_width_ = 0;
    float frame_height_ = 0;
    VideoViewport viewport_;
    std::unique_ptr<GLObjects> gl_;
    bool hasFrame_ = false;  // a frame is in the textures
    bool loggedFormat_ = false;
    uint64_t uploadedFrames_ = 0;
};

}  // namespace vistamo
