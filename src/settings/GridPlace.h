#pragma once

#include <optional>

#include "settings/WindowPlaces.h"

namespace vistamo {

// How the camera grid arranges its tiles: as many columns as the square root of the tile count
// rounded up, filling the window, or a fixed square of 1, 2, 3 or 4 tiles a side.
enum class GridLayout {
    Automatic = 0,
    OneByOne = 1,
    TwoByTwo = 2,
    ThreeByThree = 3,
    FourByFour = 4
};

// The camera grid window's layout and frame, kept among the window places (file `windows`) as
// one line whose identity names the layout: "camera-grid:auto" or "camera-grid:<side>". Only
// one such line stays; a malformed identity of that family reads as no place at all.
struct GridPlace {
    GridLayout layout = GridLayout::Automatic;
    std::optional<WindowFrame> frame;

    // The most recent grid line of `places`.
    static GridPlace readFrom(const WindowPlaces& places);
    // Replaces every grid line of `places` by this place's; nothing without a frame.
    void writeTo(WindowPlaces& places) const;

    friend bool operator==(const GridPlace&, const GridPlace&) = default;
};

}  // namespace vistamo
