// The webcam choices file: any bytes are parsed without fault, and whatever is accepted holds
// only identities the file takes and is written and read back unchanged.
#include <cstdlib>
#include <string_view>

#include "settings/WebcamChoices.h"

using namespace vistamo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto choices =
        parseWebcamChoices(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!choices) {
        return 0;
    }
    if (choices->cameras.size() > WebcamChoices::kMaxCameras) {
        std::abort();
    }
    for (const auto& identity : choices->cameras) {
        if (!isWebcamIdentity(identity)) {
            std::abort();
        }
    }
    if (parseWebcamChoices(webcamChoicesText(*choices)) != choices) {
        std::abort();
    }
    return 0;
}
