#include "video/ControlBarGeometry.h"

#include <cmath>

namespace vistamo {

namespace {

// The buttons fill the bar's height but 2 % at the top and at the bottom.
constexpr float kButtonTop = 0.96f;
// One cell: a gap, then a button.
constexpr float kCellWidth = BUTTON_WIDTH + BUTTON_INTERVAL;

}  // namespace

VideoScreen buttonQuad(int index) {
    const float scale = 2.0f / BAR_WIDTH;
    const auto i = static_cast<float>(index);
    const float left = (BUTTON_WIDTH * i + BUTTON_INTERVAL * (i + 1)) * scale - 1.0f;
    const float right = (BUTTON_WIDTH * (i + 1) + BUTTON_INTERVAL * (i + 1)) * scale - 1.0f;
    return VideoScreen{
        Vertex{{right, -kButtonTop}, {1, 1}},
        Vertex{{left, -kButtonTop}, {0, 1}},
        Vertex{{right, kButtonTop}, {1, 0}},
        Vertex{{left, kButtonTop}, {0, 0}},
    };
}

QRectF barBoundFor(const QRectF& originBound, float viewWidth, float devicePixelRatio) {
    const qreal width = originBound.width() * devicePixelRatio;
    const qreal height = originBound.height() * devicePixelRatio;
    return QRectF((viewWidth - width) * 0.5, BAR_BOTTOM, width, height);
}

BarHit hitTestBar(const QRectF& barBound, const QPointF& point) {
    BarHit hit;
    const double sv = barBound.height() / BAR_HEIGHT;
    // The lower edge of the band sits one scaled unit above where the bar is drawn.
    const double bandBottom = BAR_BOTTOM + sv;
    if (!(point.y() > bandBottom && point.y() < bandBottom + BAR_HEIGHT * sv)) {
        return hit;
    }
    hit.inBand = true;
    const double sh = barBound.width() / BAR_WIDTH;
    const auto step = static_cast<int>(sh * kCellWidth);
    if (step <= 0) {
        return hit;
    }
    const auto dx = static_cast<int>(point.x() - barBound.x());
    const int cell = dx / step;
    const auto gapEnd = static_cast<int>(barBound.x()) + static_cast<int>(sh * BUTTON_INTERVAL);
    const bool pastGap = gapEnd < static_cast<int>(point.x()) - step * cell;
    // Cells left of the bar and past its last button are empty: only the seven buttons answer.
    if (pastGap && dx >= 0 && cell < BUTTONS) {
        hit.button = cell;
    }
    return hit;
}

QString barButtonToolTip(BarButton button) {
    const BarButtonKey& entry = kBarButtonKeys.at(static_cast<size_t>(button));
    QString tip = QString::fromUtf8(entry.name);
    if (entry.key != 0) {
        tip += QStringLiteral(" (%1)").arg(QChar(entry.key));
    }
    return tip;
}

}  // namespace vistamo
