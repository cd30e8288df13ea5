#include "app/RadarFrame.h"

#include <algorithm>

namespace vistamo {

std::vector<double> nextRadarFrame(RadarState& state, double width, double height) {
    std::vector<double> rings;
    if (!state.radarEnabled) {
        return rings;
    }
    const double maxR = std::max(width, height);
    for (double r = state.reducedRadius + kRadarBaseRadius; r < maxR; r += kRadarRingSpacing) {
        rings.push_back(r);
    }
    state.reducedRadius += 1;
    if (state.reducedRadius > kRadarMaxPhase) {
        state.reducedRadius = 0;
    }
    return rings;
}

}  // namespace vistamo
