#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "media/AudioEndpoint.h"
#include "media/OpusPacketSink.h"
#include "media/PCMPlayer.h"
#include "media/SessionAudioCodec.h"
#include "platform/Bytes.h"

struct OpusEncoder;
struct OpusDecoder;

namespace vistamo {

// Opus at 48,000 Hz, mono, in 10 ms (480-sample) frames, both ways: the camera's packets are
// decoded and played through the codec's own player; microphone PCM is cut into frames and
// encoded, each packet going to the delegate.
//
// Decoded sound also goes to the sound sinks, whatever the playback gate says; with the gate
// closed and no sink, packets are not decoded at all.
//
// Threads: not synchronised inside. Decoding runs on one queue at a time (the session's
// "Client Queue"), encoding on one thread at a time (the recorder's delivery thread); only the
// playback gate, the delegate and the sound sinks may change from other threads. The player has its
// own locks.
class OpusCodec final : public SessionAudioCodec {
public:
    // Bytes of the encoder's and the decoder's accumulators.
    static constexpr size_t kEncoderBufferBytes = 18000 * 2;
    static constexpr size_t kDecoderBufferBytes = 18001 * 2;

    // Creates the decoder, the encoder and the player. With `AudioEndpoint::systemDefault` the
    // player opens the default output device at 48,000 Hz with 512-frame buffers; with `none`
    // it stays without a device (a codec that only encodes, or tests). Playback starts closed.
    explicit OpusCodec(AudioEndpoint output = AudioEndpoint::systemDefault);
    // Frees the encoder and decoder and stops the player.
    ~OpusCodec() override;

    OpusCodec(const OpusCodec&) = delete;
    OpusCodec& operator=(const OpusCodec&) = delete;

    void setDelegate(std::weak_ptr<OpusPacketSink> delegate) override;
    // Opens the playback gate, then starts the player.
    void startPlay() override;
    // Closes the gate, then stops the player, which drops what it has queued.
    void stopPlay() override;
    // Decodes one packet of at most 480 samples and hands the player one 1024-byte block
    // whenever that much has collected. Other packets are dropped, as is everything while
    // the gate is closed.
    void decodeOpusData(ByteView packet) override;
    double playbackFill() const override;
    void addSoundSink(std::weak_ptr<SoundSink> sink) override;
    void removeSoundSink(const SoundSink* sink) override;

    // Takes microphone PCM (1024-byte chunks in practice) and sends each encoded packet to the
    // delegate, on the caller's thread.
    void encodePCMData(ByteView pcm);

    PCMPlayer& player() { return *player_; }

private:
    struct FreeState {
        void operator()(void* state) const { std::free(state); }
    };

    void createDecoder();
    void createEncoder();
    void deliverPacket(int32_t packetBytes);
    // The sound sinks that still exist; the list drops the others.
    std::vector<std::shared_ptr<SoundSink>> liveSoundSinks();

    // Set once in the constructor.
    std::unique_ptr<OpusEncoder, FreeState> enc;
    std::unique_ptr<OpusDecoder, FreeState> dec;
    std::unique_ptr<PCMPlayer> player_;

    // Any thread.
    std::atomic<bool> play{false};

    // The encoding thread only.
    std::array<uint8_t, 160> opus_data_encoder{};
    std::array<int16_t, kEncoderBufferBytes / 2> buffer{};
    size_t pBegin = 0;
    size_t pEnd = 0;

    // The decoding queue only.
    std::array<int16_t, kDecoderBufferBytes / 2> pcm_buffer{};
    size_t pPCMBegin = 0;
    size_t pPCMEnd = 0;

    // Guarded by `soundSinksLock_`; `hasSoundSinks_` says whether the list is empty, any thread.
    std::mutex soundSinksLock_;
    std::vector<std::weak_ptr<SoundSink>> soundSinks_;
    std::atomic<bool> hasSoundSinks_{false};

    // Guarded by `delegateLock_`.
    std::mutex delegateLock_;
    std::weak_ptr<OpusPacketSink> delegate_;
};

}  // namespace vistamo
