#pragma once

#include <cstdint>
#include <string>

namespace vistamo {

// The input device a recorder is about to open, with what it will ask of it. SDL sets a device's
// buffer size and rate only as it opens the device, so "setting" them here fills in the request
// that the recorder then opens the device with.
struct AudioInputDevice {
    // SDL's name of the device; empty means SDL's default capture device.
    std::string name;
    // 0: whatever SDL chooses.
    uint32_t bufferFrameSize = 0;
    double sampleRate = 0.0;
};

// A nominal sample rate asked of a device, as a range (the lowest and highest acceptable rate).
struct SampleRateRange {
    double minimum = 0.0;
    double maximum = 0.0;
};

// The audio hardware settings that the intercom capture pins down: which device is the default
// input, its buffer size and its rate. Statuses are 0 for success and negative for failure.
// Each operation takes an `SDLAudioLock`; the caller holds an `SDLAudio` reference, so that SDL's
// audio subsystem runs.
class MicrophoneSettings {
public:
    // The name of the default input device; empty when SDL cannot say which it is ("Unable to get
    // default audio device" when the driver keeps no default, "Unable to get output audio
    // device" when asking fails).
    static std::string defaultInputDevice();

    // Asks for `bufferFrameSize` frames per buffer (SDL takes 1 to 65535).
    static int setInputBufferFrames(AudioInputDevice& device, uint32_t bufferFrameSize);

    // Asks for the rate `range`; SDL runs a device at one rate, the range's lowest. A range SDL
    // cannot open a device with is refused with "cannot set sample rate".
    static int setSampleRateForDeviceID(AudioInputDevice& device, SampleRateRange range);
};

}  // namespace vistamo
