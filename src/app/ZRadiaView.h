#pragma once

#include <QWidget>

#include "app/RadarFrame.h"

namespace vistamo {

// The radar animation behind the scanner's camera buttons. The scanner repaints it on a 0.02 s
// timer; every paint draws one frame and advances the phase (RadarFrame.h). It takes no mouse
// input, so clicks reach the buttons above it.
//
// Main thread only.
class ZRadiaView : public QWidget {
    Q_OBJECT

public:
    explicit ZRadiaView(QWidget* parent = nullptr);

    bool enableRadia() const { return state_.enableRadia; }
    void setEnableRadia(bool enable) { state_.enableRadia = enable; }
    double reducedRadius() const { return state_.reducedRadius; }
    void setReducedRadius(double radius) { state_.reducedRadius = radius; }

    // Phase 0 and drawing on.
    void initRadia();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RadarState state_;
};

}  // namespace vistamo
