#pragma once

#include <QWidget>

#include "app/RadarFrame.h"

namespace vistamo {

// The radar animation behind the scanner's camera buttons. The scanner repaints it on a 0.02 s
// timer; every paint draws one frame and advances the phase (RadarFrame.h). It takes no mouse
// input, so clicks reach the buttons above it.
//
// Main thread only.
class RadarView : public QWidget {
    Q_OBJECT

public:
    explicit RadarView(QWidget* parent = nullptr);

    bool radarEnabled() const { return state_.radarEnabled; }
    void setRadarEnabled(bool enable) { state_.radarEnabled = enable; }
    double reducedRadius() const { return state_.reducedRadius; }
    void setReducedRadius(double radius) { state_.reducedRadius = radius; }

    // Phase 0 and drawing on.
    void resetRadar();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RadarState state_;
};

}  // namespace vistamo
