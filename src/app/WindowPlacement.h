#pragma once

#include <QRect>
#include <vector>

namespace vistamo {

// Where a window whose remembered frame is `wanted` opens, given the screens' available areas
// (`screens`, the primary one first): where it was when enough of it (kMinVisible points each
// way) lies on some screen, else centred on the primary screen, shrunk to fit it. With no
// screen at all, `wanted` as it is.
QRect placeOnScreens(const QRect& wanted, const std::vector<QRect>& screens);

// The same for the screens of this desktop.
QRect placeOnDesktop(const QRect& wanted);

// How much of a window must lie on a screen for it to stay where it was.
inline constexpr int kMinVisible = 64;

}  // namespace vistamo
