#include "app/RadarView.h"

#include <QPainter>
#include <QPen>

namespace vistamo {

RadarView::RadarView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void RadarView::resetRadar() {
    state_.reducedRadius = 0;
    state_.radarEnabled = true;
}

void RadarView::paintEvent(QPaintEvent* /*event*/) {
    const auto rings = nextRadarFrame(state_, width(), height());
    if (rings.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.5f));
    pen.setWidthF(1.0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // The rings are symmetric about the centre, so the top-left origin of the widget draws
    // them where a bottom-left origin would.
    const QPointF centre(width() / 2.0, height() / 2.0);
    for (const double r : rings) {
        painter.drawEllipse(centre, r, r);
    }
}

}  // namespace vistamo
