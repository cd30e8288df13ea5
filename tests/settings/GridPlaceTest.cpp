#include "settings/GridPlace.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

TEST(GridPlaceTest, KeptAsOneWindowPlaceLineBesideTheCameraWindows) {
    WindowPlaces places = WindowPlaces::parse(
        "uuid:0A1B 10 20 640 480\n"
        "camera-grid:5 1 2 300 200\n"  // no such layout
        "camera-grid:auto 5 6 900 700\n"
        "camera-grid:3x 1 2 300 200\n");  // nor this
    EXPECT_EQ(GridPlace::readFrom(places),
              (GridPlace{GridLayout::Automatic, WindowFrame{5, 6, 900, 700}}));

    GridPlace{GridLayout::ThreeByThree, WindowFrame{-40, 30, 1280, 720}}.writeTo(places);
    GridPlace{}.writeTo(places);  // a place without a frame changes nothing
    const WindowPlaces reread = WindowPlaces::parse(places.text());
    EXPECT_EQ(GridPlace::readFrom(reread),
              (GridPlace{GridLayout::ThreeByThree, WindowFrame{-40, 30, 1280, 720}}));
    EXPECT_EQ(reread.frameFor("uuid:0A1B"), (WindowFrame{10, 20, 640, 480}));
    // Every earlier grid line gave way to the new one, malformed ones included.
    EXPECT_EQ(reread.entries().size(), 2u);

    EXPECT_EQ(GridPlace::readFrom(WindowPlaces::parse("uuid:0A1B 10 20 640 480\n")), GridPlace{});
}

}  // namespace
}  // namespace vistamo
