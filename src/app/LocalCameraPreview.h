#pragma once

#include <QImage>
#include <QOpenGLFunctions_3_2_Core>
#include <QOpenGLWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/PreviewFrameSource.h"

class QOpenGLShaderProgram;

namespace vistamo {

// The local camera preview: a surface laid over the scanner view that draws the webcam's
// picture with the watermark canvas blended over it (the canvas's colour weighted by its alpha
// times `kMix`). The picture keeps its proportions inside the surface, on black.
//
// A reader thread of its own pulls pictures from the source and hands the newest to the main
// thread; pictures that arrive faster than they are drawn are dropped. The preview stops, and
// joins its thread, when `stop` is called or when it is destroyed.
//
// Every operation is called on the main thread.
class LocalCameraPreview : public QOpenGLWidget, protected QOpenGLFunctions_3_2_Core {
    Q_OBJECT

public:
    static constexpr float kMix = 0.8f;
    // The caller reports a camera that cannot be opened with this text followed by the reason.
    static constexpr const char* kStartFailureText = "Couldn't initialize camera with error: ";

    // `canvas`: the watermark (see WatermarkCanvas); any size, stretched over the picture.
    explicit LocalCameraPreview(QImage canvas, QWidget* parent = nullptr);
    ~LocalCameraPreview() override;

    // Opens `source` and starts reading it. When it cannot be opened, returns the reason and
    // nothing runs. A running preview is stopped first.
    std::optional<std::string> start(std::unique_ptr<PreviewFrameSource> source);

    // The same with the default webcam.
    std::optional<std::string> start();

    // Stops reading and closes the source; the last picture stays on the surface.
    void stop();

    // True while the reader thread is reading: from a successful start until `stop`, or until
    // the source ends by itself.
    bool isRunning() const { return reading_.load(); }

    // How many pictures have reached the main thread since construction.
    uint64_t framesReceived() const { return framesReceived_; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void readLoop();
    void takeFrame();
    void releaseGl();

    // Main thread only.
    QImage canvas_;
    QImage shown_;
    bool shownChanged_ = false;
    uint64_t framesReceived_ = 0;
    std::thread reader_;
    // Main thread only, with the surface's context current.
    std::unique_ptr<QOpenGLShaderProgram> program_;
    GLuint vertexArray_ = 0;
    GLuint vertexBuffer_ = 0;
    GLuint frameTexture_ = 0;
    GLuint canvasTexture_ = 0;
    QSize frameTextureSize_;
    bool glReady_ = false;
    QMetaObject::Connection contextConnection_;

    // Set before the reader thread starts and reset after it is joined; the reader thread's
    // only while it runs.
    std::unique_ptr<PreviewFrameSource> source_;

    // Shared with the reader thread.
    std::atomic<bool> stopping_{false};
    std::atomic<bool> reading_{false};
    std::mutex pendingMutex_;
    QImage pending_;               // guarded by pendingMutex_
    bool deliveryPosted_ = false;  // guarded by pendingMutex_
};

}  // namespace vistamo
