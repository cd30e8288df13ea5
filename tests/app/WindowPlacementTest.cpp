#include "app/WindowPlacement.h"

#include <gtest/gtest.h>

namespace vistamo::test {
namespace {

TEST(WindowPlacementTest, AWindowStaysOnTheScreenItWasOnElseOpensCentredOnThePrimary) {
    const QRect primary(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    const std::vector<QRect> screens{primary, right};

    // On either screen, or partly off one with enough of it showing: where it was.
    EXPECT_EQ(placeOnScreens(QRect(100, 50, 960, 600), screens), QRect(100, 50, 960, 600));
    EXPECT_EQ(placeOnScreens(QRect(2500, 100, 960, 600), screens), QRect(2500, 100, 960, 600));
    EXPECT_EQ(placeOnScreens(QRect(-896, -536, 960, 600), screens), QRect(-896, -536, 960, 600));

    // On a screen that has gone, or showing too little of itself: centred on the primary.
    EXPECT_EQ(placeOnScreens(QRect(3400, 100, 960, 600), screens), QRect(480, 240, 960, 600));
    EXPECT_EQ(placeOnScreens(QRect(-900, 100, 960, 600), screens), QRect(480, 240, 960, 600));
    EXPECT_EQ(placeOnScreens(QRect(3400, 100, 960, 600), {QRect(100, 100, 1280, 720)}),
              QRect(260, 160, 960, 600));
    // Larger than the primary: shrunk to it.
    EXPECT_EQ(placeOnScreens(QRect(9000, 0, 4000, 3000), screens), primary);
    EXPECT_EQ(placeOnScreens(QRect(9000, 0, 10, 10), {}), QRect(9000, 0, 10, 10));
}

}  // namespace
}  // namespace vistamo::test
