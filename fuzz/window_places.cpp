// The window places file: any bytes are read without fault, and what is written then reads back
// as the same entries; the camera grid's place read from it survives being written back.
#include <cstdlib>
#include <string_view>

#include "settings/GridPlace.h"
#include "settings/WindowPlaces.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto places =
        WindowPlaces::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (places.entries().size() > WindowPlaces::kMaxEntries) {
        std::abort();
    }
    const std::string text = places.text();
    if (WindowPlaces::parse(text).entries() != places.entries() ||
        WindowPlaces::parse(text).text() != text) {
        std::abort();
    }
    WindowPlaces copy = places;
    const GridPlace grid = GridPlace::readFrom(places);
    grid.writeTo(copy);
    if (GridPlace::readFrom(copy) != grid) {
        std::abort();
    }
    return 0;
}
