#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace vistamo {

QRect placeOnScreens(const QRect& wanted, const std::vector<QRect>& screens) {
    if (screens.empty()) {
        return wanted;
    }
    for (const QRect& screen : screens) {
        const QRect shown = screen.intersected(wanted);
        if (shown.width() >= kMinVisible && shown.height() >= kMinVisible) {
            return wanted;
        }
    }
    const QRect& primary = screens.front();
    QRect placed(QPoint(0, 0), QSize(std::min(wanted.width(), primary.width()),
                                     std::min(wanted.height(), primary.height())));
    placed.moveCenter(primary.center());
    return placed;
}

QRect placeOnDesktop(const QRect& wanted) {
    std::vector<QRect> screens;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        screens.push_back(primary->availableGeometry());
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) {
            screens.push_back(screen->availableGeometry());
        }
    }
    return placeOnScreens(wanted, screens);
}

}  // namespace vistamo
