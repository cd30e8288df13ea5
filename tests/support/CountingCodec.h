#pragma once

#include <atomic>
#include <memory>

#include "media/AudioEndpoint.h"
#include "media/OpusCodec.h"
#include "media/SessionAudioCodec.h"

namespace vistamo::test {

// The real Opus codec and its player, counting the camera's sound packets on their way in.
// Header only: for the tests that link the media library.
class CountingCodec : public SessionAudioCodec {
public:
    explicit CountingCodec(AudioEndpoint output = AudioEndpoint::none)
        : codec(std::make_shared<OpusCodec>(output)) {}
    void setDelegate(std::weak_ptr<OpusPacketSink> delegate) override {
        codec->setDelegate(std::move(delegate));
    }
    void startPlay() override { codec->startPlay(); }
    void stopPlay() override { codec->stopPlay(); }
    void decodeOpusData(ByteView packet) override {
        codec->decodeOpusData(packet);
        ++packets;
    }
    double playbackFill() const override { return codec->playbackFill(); }
    void addSoundSink(std::weak_ptr<SoundSink> sink) override {
        codec->addSoundSink(std::move(sink));
    }
    void removeSoundSink(const SoundSink* sink) override { codec->removeSoundSink(sink); }

    const std::shared_ptr<OpusCodec> codec;
    std::atomic<size_t> packets{0};
};

}  // namespace vistamo::test
