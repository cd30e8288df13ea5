#include "app/QtDeviceButton.h"

#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QPixmap>
#include <algorithm>

#include "platform/Log.h"
#include "platform/Resources.h"

namespace vistamo {

namespace {

// The largest size of `natural` that fits in `room` without enlarging it.
QSize scaledDownToFit(QSize natural, QSize room) {
    if (natural.isEmpty() || room.isEmpty()) {
        return QSize(0, 0);
    }
    if (natural.width() <= room.width() && natural.height() <= room.height()) {
        return natural;
    }
    return natural.scaled(room, Qt::KeepAspectRatio);
}

}  // namespace

QtDeviceButton::QtDeviceButton(QWidget* view, const DeviceButtonSpec& spec, Clicked clicked)
    : widget_(new QToolButton(view)), x_(spec.x), y_(spec.y) {
    QToolButton* button = widget_.data();
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setText(QString::fromStdString(spec.title));
    button->setToolTip(QString::fromStdString(spec.title));
    QFont font = button->font();
    // The size is in points of the view, which are the widget's pixels.
    font.setPixelSize(std::max(1, static_cast<int>(spec.fontSize + 0.5)));
    button->setFont(font);
    button->resize(spec.width, spec.height);

    const QPixmap image(QString::fromStdString(resourcePath(spec.imageName)));
    if (image.isNull()) {
        logLine("camera button image " + spec.imageName + " could not be loaded");
    } else {
        // The title takes one line under the image; the image gets what is left.
        const int titleHeight = QFontMetrics(font).height();
        const QSize room(spec.width - 4, spec.height - titleHeight - 6);
        button->setIconSize(scaledDownToFit(image.size(), room));
        button->setIcon(QIcon(image));
    }
    clickConnection_ = QObject::connect(button, &QToolButton::clicked, button,
                                        [this, clicked = std::move(clicked)] { clicked(*this); });
    place(view != nullptr ? view->height() : spec.height);
    button->show();
}

QtDeviceButton::~QtDeviceButton() {
    // A button may go while its own click is being handled: let the event loop delete it.
    QObject::disconnect(clickConnection_);
    if (widget_) {
        widget_->hide();
        widget_->deleteLater();
    }
}

bool QtDeviceButton::isHidden() const { return !widget_ || widget_->isHidden(); }

void QtDeviceButton::setButtonHidden(bool hidden) {
    if (widget_) {
        widget_->setHidden(hidden);
    }
}

void QtDeviceButton::place(int viewHeight) {
    if (widget_) {
        widget_->move(x_, viewHeight - y_ - widget_->height());
    }
}

}  // namespace vistamo
