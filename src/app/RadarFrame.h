#pragma once

#include <vector>

namespace vistamo {

// The radar behind the camera buttons: concentric rings 80 points apart that move outwards by
// one point per frame. Kept apart from the widget so that the ring arithmetic is testable
// without a window.
struct RadarState {
    bool radarEnabled = false;
    // Offset of the innermost ring beyond its base radius, 0 to 80.
    double reducedRadius = 0;
};

inline constexpr double kRadarBaseRadius = 18;
inline constexpr double kRadarRingSpacing = 80;
inline constexpr double kRadarMaxPhase = 80;

// One frame of a view of `width` × `height` points: the radii of the rings to stroke around the
// view's centre, innermost first, every one below the larger side. The phase then advances by
// one and starts again at 0 after 80. A disabled radar draws nothing and keeps its phase.
std::vector<double> nextRadarFrame(RadarState& state, double width, double height);

}  // namespace vistamo
