#pragma once

#include <qopengl.h>

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <array>
#include <memory>
#include <optional>

#include "video/ControlBarGeometry.h"

class QOpenGLWidget;

namespace vistamo {

class ShaderProgram;
class ImageTexture;

// The row of seven buttons drawn over the bottom of the video: flash, speaker, alarm,
// microphone, switch camera, close and shutter, each with an image chosen by the camera's
// state. It answers which button a click hits; it sends nothing itself and keeps no state of
// the camera.
//
// Main thread only. Made with its view, before the view has a context; its OpenGL objects are
// made at the first drawing (context current) and destroyed with the view's context current
// (the view does that); when the view is gone first, the destructor leaves the objects to the
// dead context.
class ControlBar final {
public:
    // The image files, in the order they are loaded: index i of this list is texture i.
    static constexpr std::array<const char*, 11> kImageNames = {
        "flashoff.png", "unmute.png", "noalarm.png", "micoff.png", "switch camera.png", "close.png",
        "flashon.png",  "mute.png",   "onalarm.png", "micon.png",  "shutter.png"};

    explicit ControlBar(QOpenGLWidget* view);
    ~ControlBar();
    ControlBar(const ControlBar&) = delete;
    ControlBar& operator=(const ControlBar&) = delete;

    // Where the bar is drawn, backing pixels; none until the view's first reshape.
    const std::optional<QRectF>& barBound() const { return barBound_; }
    void setBarBound(const QRectF& bound) { barBound_ = bound; }
    // The bar's size in points: (0, 0, 656, 50).
    const QRectF& originBound() const { return originBound_; }

    // Draws the buttons for `state` into `barBound`, blended over what is drawn. The first call
    // makes the program, the seven quads and loads the images: an image that is missing or
    // unusable is logged once and its button is not drawn; the rest of the bar works. Context
    // current.
    void drawButton(const CameraState& state);

    // The button hit by a click at `mousePoint` (backing pixels, origin at the bottom left):
    // 1..7, or 0 for none. Prints "r = " with the button index (or -1) for clicks in the band.
    int checkClick(const QPointF& mousePoint) const;

    // The image that button `index` shows in `state`, or none when it did not load (or before
    // the first drawing).
    const ImageTexture* imageFor(int index, const CameraState& state) const;

private:
    void makeObjects();
    void calculateVertices();
    void loadTextures();

    // Main thread only.
    QPointer<QOpenGLWidget> view_;
    std::array<GLuint, BUTTONS> VAO_{};
    std::array<GLuint, BUTTONS> VBO_{};
    std::array<std::shared_ptr<ImageTexture>, kImageNames.size()> myTextures_;
    std::unique_ptr<ShaderProgram> program_;
    std::optional<QRectF> barBound_;
    QRectF originBound_{0, 0, BAR_WIDTH, BAR_HEIGHT};
};

}  // namespace vistamo
