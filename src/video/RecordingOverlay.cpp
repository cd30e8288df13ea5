#include "video/RecordingOverlay.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "video/VideoGeometry.h"

namespace vistamo {

namespace {

constexpr double kMargin = 12;
constexpr double kDot = 14;

}  // namespace

void RecordingOverlay::showNotice(const QString& text, Clock::time_point now) {
    notice_ = text;
    noticeUntil_ = now + kNoticeTime;
}

QString RecordingOverlay::runningTime(double seconds) {
    const auto whole = static_cast<long>(std::floor(std::max(seconds, 0.0)));
    const long hours = whole / 3600;
    const long minutes = whole / 60 % 60;
    const long rest = whole % 60;
    if (hours > 0) {
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(rest, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

void RecordingOverlay::paintOver(QPaintDevice& device, const VideoViewport& viewport,
                                 double scale) {
    const Clock::time_point now = Clock::now();
    if (!hasSomethingToShow(now) || scale <= 0) {
        return;
    }
    QPainter painter(&device);
    const QRectF picture(viewport.x / scale, device.height() - (viewport.y + viewport.h) / scale,
                         viewport.w / scale, viewport.h / scale);
    paint(painter, picture, now);
}

void RecordingOverlay::paint(QPainter& painter, const QRectF& picture, Clock::time_point now) {
    if (picture.isEmpty()) {
        return;
    }
    const std::optional<double> seconds = source_ ? source_() : std::nullopt;
    const bool showNotice = !notice_.isEmpty() && now < noticeUntil_;
    const QString publishing = publishingLine();
    if (!seconds && !showNotice && publishing.isEmpty()) {
        return;
    }
    painter.save();
    painter.setClipRect(picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double line = metrics.height() + 8;

    if (showNotice) {
        const QRectF band(picture.left(), picture.top(), picture.width(), line);
        painter.fillRect(band, QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        const QRectF text = band.adjusted(kMargin, 0, -kMargin, 0);
        painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                         metrics.elidedText(notice_, Qt::ElideRight, text.width()));
    }
    if (seconds) {
        const QString time = runningTime(*seconds);
        const double textWidth = metrics.horizontalAdvance(time);
        const double top = picture.top() + (showNotice ? line : 0) + kMargin;
        const QRectF badge(picture.right() - kMargin - textWidth - kDot - 24, top,
                           textWidth + kDot + 24, line);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 140));
        painter.drawRoundedRect(badge, line / 2, line / 2);
        painter.setBrush(QColor(230, 30, 30));
        painter.drawEllipse(QPointF(badge.left() + 8 + kDot / 2, badge.center().y()), kDot / 2,
                            kDot / 2);
        painter.setPen(Qt::white);
        painter.drawText(badge.adjusted(kDot + 16, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         time);
    }
    if (!publishing.isEmpty()) {
        QFont small = font;
        small.setPixelSize(13);
        small.setBold(false);
        painter.setFont(small);
        const QFontMetricsF smallMetrics(small);
        const double height = smallMetrics.height() + 6;
        // Below the red dot, clear of the statistics at the top left.
        const double top =
            picture.top() + (showNotice ? line : 0) + kMargin + (seconds ? line + 4 : 0);
        const QString text =
            smallMetrics.elidedText(publishing, Qt::ElideRight, picture.width() / 2);
        const double width = smallMetrics.horizontalAdvance(text) + 16;
        const QRectF badge(picture.right() - kMargin - width, top, width, height);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 140));
        painter.drawRoundedRect(badge, height / 2, height / 2);
        painter.setPen(Qt::white);
        painter.drawText(badge.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    painter.restore();
}

}  // namespace vistamo
