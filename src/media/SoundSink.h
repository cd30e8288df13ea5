#pragma once

#include <cstdint>
#include <span>

namespace vistamo {

// Receives one camera's decoded sound: signed 16-bit PCM in the machine's byte order, `channels`
// samples interleaved per frame, at `sampleRate` frames per second. Whatever vistamo itself
// plays (the camera sound switch) does not change what a sink gets.
class SoundSink {
public:
    virtual ~SoundSink() = default;

    // One decoded packet's samples, valid only during the call. Called on the session's queue
    // right after decoding, one packet at a time; it must not wait for another thread, since the
    // session's messages wait meanwhile.
    virtual void soundDecoded(std::span<const int16_t> samples, int sampleRate, int channels) = 0;
};

}  // namespace vistamo
