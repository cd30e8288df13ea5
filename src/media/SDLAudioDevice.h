#pragma once

#include <SDL.h>

#include <memory>
#include <string>

#include "media/SDLAudio.h"

namespace vistamo {

// An open SDL audio device with its callback. It opens paused. Destruction closes it, which
// waits until the callback has returned for the last time: whatever the callback reaches must
// outlive this object.
//
// Every operation takes an `SDLAudioLock`; call none of them from the device's own callback.
class SDLAudioDevice {
public:
    enum class Direction { output, capture };

    // Opens the device called `name` (empty: SDL's default device of that direction) in exactly
    // the `desired` format; SDL converts from and to what the hardware does. Returns nothing and
    // sets `error` when SDL has no audio or cannot open the device.
    static std::unique_ptr<SDLAudioDevice> open(Direction direction, const std::string& name,
                                                const SDL_AudioSpec& desired, std::string& error);
    ~SDLAudioDevice();

    SDLAudioDevice(const SDLAudioDevice&) = delete;
    SDLAudioDevice& operator=(const SDLAudioDevice&) = delete;

    // Starts and stops the callback. Pausing returns once a running callback has returned.
    void resume();
    void pause();

    // The format SDL gave; the same as the desired one.
    const SDL_AudioSpec& obtained() const { return obtained_; }

    // Only `open` makes one.
    class Key {
        friend class SDLAudioDevice;
        Key() = default;
    };
    SDLAudioDevice(Key, std::unique_ptr<SDLAudio> audio, SDL_AudioDeviceID id,
                   const SDL_AudioSpec& obtained);

private:
    // Set once when opened. The subsystem reference outlives the device it holds up.
    std::unique_ptr<SDLAudio> audio_;
    SDL_AudioDeviceID id_;
    SDL_AudioSpec obtained_;
};

}  // namespace vistamo
