#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <array>

#include "video/Vertex.h"

namespace vistamo {

// Layout of the control bar, in bar units (pixels of the bar at scale 1).
inline constexpr int BUTTONS = 7;
inline constexpr float BUTTON_WIDTH = 48;
inline constexpr float BUTTON_HEIGHT = 48;
inline constexpr float BUTTON_INTERVAL = 40;  // gap before each button and after the last
inline constexpr float BAR_HEIGHT = 50;
inline constexpr float BAR_WIDTH = BUTTONS * BUTTON_WIDTH + (BUTTONS + 1) * BUTTON_INTERVAL;
// The bar is drawn this many backing pixels above the bottom of the view.
inline constexpr float BAR_BOTTOM = 10;

// The buttons, left to right; a hit test answers index + 1.
enum class BarButton { Flash, Speaker, Alarm, Microphone, SwitchCamera, Close, Shutter };

// The window's key for each button (none for close: Close Window does that) and the name its
// tooltip and the help page give it, in the order of BarButton.
struct BarButtonKey {
    BarButton button;
    char key;  // an upper-case letter, or 0
    const char* name;
};
inline constexpr std::array<BarButtonKey, BUTTONS> kBarButtonKeys = {{
    {BarButton::Flash, 'T', "Torch"},
    {BarButton::Speaker, 'M', "Camera sound"},
    {BarButton::Alarm, 'G', "Motion guard"},
    {BarButton::Microphone, 'I', "Intercom"},
    {BarButton::SwitchCamera, 'L', "Lens"},
    {BarButton::Close, 0, "Close"},
    {BarButton::Shutter, 'S', "Snapshot"},
}};

// The camera's state as the bar shows it. The video view controller holds it; the bar only
// draws it.
struct CameraState {
    bool flash = false;
    bool screen = false;
    bool alarm = false;
    bool muteMic = false;  // the intercom runs (microphone image "on")
};

// "Torch (T)": the tooltip of `button`.
QString barButtonToolTip(BarButton button);

// The quad of button `index` (0..6) in the bar's clip space, as a triangle strip, with
// normalised texture coordinates and the image's first row at the top.
VideoScreen buttonQuad(int index);

// Where the bar goes in a view `viewWidth` backing pixels wide: its size in points
// (`originBound`) times the device pixel ratio, centred, BAR_BOTTOM above the bottom.
QRectF barBoundFor(const QRectF& originBound, float viewWidth, float devicePixelRatio);

// What a click hits.
struct BarHit {
    bool inBand = false;  // the click lies in the bar's band (the height of its buttons)
    int button = -1;      // 0..6, or -1 for none
};

// Hit test for a click at `point` (backing pixels, origin at the bottom left) against a bar
// placed at `barBound`. The band is 10 + sv < y < 10 + sv + 50 sv with sv = bh / 50; a cell is
// a 40-unit gap followed by a button. Clicks in a gap, outside the band, or right of the last
// button hit nothing.
BarHit hitTestBar(const QRectF& barBound, const QPointF& point);

}  // namespace vistamo
