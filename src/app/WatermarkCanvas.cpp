#include "app/WatermarkCanvas.h"

#include <QPainter>

#include "platform/Log.h"
#include "platform/Resources.h"

namespace vistamo {

QRectF WatermarkCanvas::logoRect(QSizeF logoSize) {
    return {kMargin, kMargin, logoSize.width() * kLogoScale, logoSize.height() * kLogoScale};
}

QImage WatermarkCanvas::make(const QImage& logo) {
    QImage canvas(kWidth, kHeight, QImage::Format_RGBA8888_Premultiplied);
    canvas.fill(Qt::transparent);
    if (!logo.isNull()) {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(logoRect(logo.size()), logo);
    }
    return canvas;
}

QImage WatermarkCanvas::makeFromResource() {
    const std::string path = resourcePath("logo.png");
    QImage logo(QString::fromStdString(path));
    if (logo.isNull()) {
        logLine("cannot read the logo picture " + path + "; the preview shows no logo");
    }
    return make(logo);
}

}  // namespace vistamo
