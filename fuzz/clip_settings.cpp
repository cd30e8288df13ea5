// The clip settings file: any bytes are parsed without fault, and whatever is accepted is
// written and read back unchanged, within the bounds the recorder relies on.
#include <cstdlib>
#include <string_view>

#include "settings/ClipSettings.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto settings =
        parseClipSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!settings) {
        return 0;
    }
    if (settings->secondsAfter < 1 || settings->secondsAfter > ClipSettings::kMaxSecondsAfter ||
        settings->secondsBefore < 0 || settings->secondsBefore > ClipSettings::kMaxSecondsBefore) {
        std::abort();
    }
    if (parseClipSettings(clipSettingsText(*settings)) != settings) {
        std::abort();
    }
    return 0;
}
