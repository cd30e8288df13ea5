#pragma once

#include <memory>

#include "media/OpusPacketSink.h"
#include "media/SoundSink.h"
#include "platform/Bytes.h"

namespace vistamo {

// The Opus codec that plays a camera's sound, as the session and its video controller use it.
// `decodeOpusData` is called on the session's "Client Queue"; `startPlay`/`stopPlay` on the
// main thread. Releasing the codec stops its playback.
class SessionAudioCodec {
public:
    virtual ~SessionAudioCodec() = default;

    virtual void setDelegate(std::weak_ptr<OpusPacketSink> delegate) = 0;
    virtual void startPlay() = 0;
    virtual void stopPlay() = 0;
    // One Opus packet; valid only during the call.
    virtual void decodeOpusData(ByteView packet) = 0;
    // How full the playback ring is, 0 to 1; negative when unknown. Any thread.
    virtual double playbackFill() const { return -1; }
    // Readers of the decoded sound besides the player, called on the decoding queue; they get
    // it whether the playback gate is open or not. A sink already added is not added twice; gone
    // sinks are passed over. Any thread. Default: a codec without readers.
    virtual void addSoundSink(std::weak_ptr<SoundSink> /*sink*/) {}
    virtual void removeSoundSink(const SoundSink* /*sink*/) {}
};

}  // namespace vistamo
