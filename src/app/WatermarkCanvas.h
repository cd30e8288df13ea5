#pragma once

#include <QImage>
#include <QRectF>

namespace vistamo {

// The picture blended over the local camera preview: a transparent 1280 × 720 canvas with the
// product logo near its top-left corner. Built once, on the main thread.
class WatermarkCanvas {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    static constexpr double kMargin = 10;
    // The logo is drawn as it would stand on a 1920-wide picture enlarged by a fifth.
    static constexpr double kLogoScale = 1.2 * kWidth / 1920.0;

    // Where a logo of `logoSize` lands on the canvas, top-down coordinates.
    static QRectF logoRect(QSizeF logoSize);

    // The canvas with `logo` drawn on it; a null `logo` leaves the canvas transparent.
    // Premultiplied RGBA, 8 bits per component.
    static QImage make(const QImage& logo);

    // The canvas with the resource "logo.png"; when it is missing or unreadable, a line is
    // logged and the canvas stays transparent.
    static QImage makeFromResource();
};

}  // namespace vistamo
