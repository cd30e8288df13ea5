#pragma once

namespace vistamo {

// A sound file ready to play once per request (the alarm, the shutter). Main thread only.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // Starts the sound; a request while it plays does not restart it.
    virtual void play() = 0;
    virtual bool isPlaying() const = 0;
};

}  // namespace vistamo
