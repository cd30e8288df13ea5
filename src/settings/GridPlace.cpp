#include "settings/GridPlace.h"

#include <string>
#include <string_view>

namespace vistamo {

namespace {

constexpr std::string_view kPrefix = "camera-grid:";

std::optional<GridLayout> layoutNamed(std::string_view name) {
    if (name == "auto") {
        return GridLayout::Automatic;
    }
    if (name.size() == 1 && name[0] >= '1' && name[0] <= '4') {
        return static_cast<GridLayout>(name[0] - '0');
    }
    return std::nullopt;
}

std::string nameOf(GridLayout layout) {
    if (layout == GridLayout::Automatic) {
        return "auto";
    }
    return std::to_string(static_cast<int>(layout));
}

}  // namespace

GridPlace GridPlace::readFrom(const WindowPlaces& places) {
    GridPlace place;
    // The last entry is the most recently written.
    for (const auto& [identity, frame] : places.entries()) {
        if (!std::string_view(identity).starts_with(kPrefix)) {
            continue;
        }
        if (const auto layout = layoutNamed(std::string_view(identity).substr(kPrefix.size()))) {
            place = GridPlace{*layout, frame};
        }
    }
    return place;
}

void GridPlace::writeTo(WindowPlaces& places) const {
    if (!frame) {
        return;
    }
    places.eraseIf([](std::string_view identity) { return identity.starts_with(kPrefix); });
    places.setFrame(std::string(kPrefix) + nameOf(layout), *frame);
}

}  // namespace vistamo
