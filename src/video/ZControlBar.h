#pragma once

#include <qopengl.h>

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <array>
#include <memory>
#include <optional>

#include "session/SessionView.h"
#include "video/ControlBarGeometry.h"

class QOpenGLWidget;

namespace vistamo {

class ZShaderProgram;
class ZTexture;

// The row of seven buttons drawn over the bottom of the video: flash, speaker, alarm,
// microphone, switch camera, close and shutter, each with an image chosen by its state. It
// answers which button a click hits; it sends nothing itself.
//
// Main thread only. Made and destroyed with the context of its view current (the view does
// both); when the view is gone first, the destructor leaves the objects to the dead context.
class ZControlBar final : public SessionStatusTarget {
public:
    // The image files, in the order they are loaded: index i of this list is texture i.
    static constexpr std::array<const char*, 11> kImageNames = {
        "flashoff.png", "unmute.png", "noalarm.png", "micoff.png", "switch camera.png", "close.png",
        "flashon.png",  "mute.png",   "onalarm.png", "micon.png",  "shutter.png"};

    // Makes the program, the seven quads and loads the images. An image that is missing or
    // unusable is logged once and its button is not drawn; the rest of the bar works.
    explicit ZControlBar(QOpenGLWidget* view);
    ~ZControlBar() override;
    ZControlBar(const ZControlBar&) = delete;
    ZControlBar& operator=(const ZControlBar&) = delete;

    // The camera's states, shown at the next drawing.
    void setFlash(bool on) override { flash_ = on; }
    void setScreen(bool on) override { screen_ = on; }
    void setAlarm(bool on) override { alarm_ = on; }
    bool flash() const { return flash_; }
    bool screen() const { return screen_; }
    bool alarm() const { return alarm_; }
    // The intercom runs (microphone image "on").
    void setMuteMic(bool on) { muteMic_ = on; }
    bool muteMic() const { return muteMic_; }

    // Where the bar is drawn, backing pixels; none until the view's first reshape.
    const std::optional<QRectF>& barBound() const { return barBound_; }
    void setBarBound(const QRectF& bound) { barBound_ = bound; }
    // The bar's size in points: (0, 0, 656, 50).
    const QRectF& originBound() const { return originBound_; }

    // Draws the buttons into `barBound`, blended over what is drawn. Context current.
    void drawButton();

    // The button hit by a click at `mousePoint` (backing pixels, origin at the bottom left):
    // 1..7, or 0 for none. Prints "r = " with the button index (or -1) for clicks in the band.
    int checkClick(const QPointF& mousePoint) const;

    // The image that button `index` shows in the current state, or none when it did not load.
    const ZTexture* imageFor(int index) const;

private:
    void calculateVertices();
    void loadTextures();

    // Main thread only.
    QPointer<QOpenGLWidget> view_;
    std::array<GLuint, BUTTONS> VAO_{};
    std::array<GLuint, BUTTONS> VBO_{};
    std::array<std::shared_ptr<ZTexture>, kImageNames.size()> myTextures_;
    std::unique_ptr<ZShaderProgram> program_;
    std::optional<QRectF> barBound_;
    QRectF originBound_{0, 0, BAR_WIDTH, BAR_HEIGHT};
    bool muteMic_ = false;
    bool flash_ = false;
    bool alarm_ = false;
    bool screen_ = false;
};

}  // namespace vistamo
