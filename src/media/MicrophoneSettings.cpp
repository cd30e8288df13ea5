#include "media/MicrophoneSettings.h"

#include <SDL.h>

#include <climits>
#include <cmath>
#include <string_view>

#include "media/SDLAudio.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr int kFailed = -1;

// What SDL says (SDL_Unsupported) when its driver has no notion of a default device.
constexpr std::string_view kUnsupported = "That operation is not supported";

// Whether SDL can tell the preferred format of the capture device `name` (empty: the default
// one). Called with an `SDLAudioLock` held.
bool knowsFormatOf(const std::string& name) {
    SDL_AudioSpec spec{};
    if (name.empty()) {
        char* defaultName = nullptr;
        const bool known = SDL_GetDefaultAudioInfo(&defaultName, &spec, 1) == 0;
        SDL_free(defaultName);
        return known;
    }
    const int count = SDL_GetNumAudioDevices(1);
    for (int index = 0; index < count; ++index) {
        const char* deviceName = SDL_GetAudioDeviceName(index, 1);
        if (deviceName != nullptr && name == deviceName) {
            return SDL_GetAudioDeviceSpec(index, 1, &spec) == 0;
        }
    }
    return false;
}

}  // namespace

std::string MicrophoneSettings::defaultInputDevice() {
    SDLAudioLock guard;
    if (SDL_GetCurrentAudioDriver() == nullptr) {
        logLine("Unable to get default audio device");
        return {};
    }
    char* name = nullptr;
    SDL_AudioSpec spec{};
    SDL_ClearError();
    if (SDL_GetDefaultAudioInfo(&name, &spec, 1) != 0) {
        logLine(SDL_GetError() == kUnsupported ? "Unable to get default audio device"
                                               : "Unable to get output audio device");
        return {};
    }
    std::string result = name != nullptr ? name : "";
    SDL_free(name);
    if (result.empty()) {
        logLine("Unable to get output audio device");
    }
    return result;
}

int MicrophoneSettings::setInputBufferFrames(AudioInputDevice& device, uint32_t bufferFrameSize) {
    if (bufferFrameSize == 0 || bufferFrameSize > UINT16_MAX) {
        return kFailed;
    }
    device.bufferFrameSize = bufferFrameSize;
    return 0;
}

int MicrophoneSettings::setSampleRateForDeviceID(AudioInputDevice& device, SampleRateRange range) {
    SDLAudioLock guard;
    if (SDL_GetNumAudioDevices(1) < 0) {
        return kFailed;
    }
    // SDL tells one preferred format per device, so the list of rates has one entry or none.
    const int rates = knowsFormatOf(device.name) ? 1 : 0;
    debugLine("Available " + std::to_string(rates) + " Sample Rates");

    const bool openable = std::isfinite(range.minimum) && std::isfinite(range.maximum) &&
                          range.minimum >= 1.0 && range.minimum <= range.maximum &&
                          range.minimum <= INT_MAX;
    if (!openable) {
        logLine("cannot set sample rate");
        return kFailed;
    }
    device.sampleRate = range.minimum;
    return 0;
}

}  // namespace vistamo
