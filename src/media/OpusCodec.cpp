#include "media/OpusCodec.h"

#include <opus.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr int32_t kSampleRate = 48000;
constexpr int kChannels = 1;
constexpr int kFrameSamples = 480;
constexpr size_t kFrameBytes = kFrameSamples * 2;
constexpr size_t kBlockBytes = 1024;

}  // namespace

OpusCodec::OpusCodec(AudioEndpoint output) : player_(std::make_unique<PCMPlayer>()) {
    createDecoder();
    createEncoder();
    if (output == AudioEndpoint::systemDefault) {
        player_->configAudio(kSampleRate);
    }
}

OpusCodec::~OpusCodec() {
    enc.reset();
    dec.reset();
    player_->stop();
}

void OpusCodec::createDecoder() {
    if (dec) {
        return;
    }
    const int size = opus_decoder_get_size(kChannels);
    if (size > 0) {
        dec.reset(static_cast<OpusDecoder*>(std::malloc(static_cast<size_t>(size))));
    }
    if (!dec) {
        logLine("cannot allocate the Opus decoder");
        return;
    }
    const int status = opus_decoder_init(dec.get(), kSampleRate, kChannels);
    if (status != OPUS_OK) {
        logLine(std::string("cannot set up the Opus decoder: ") + opus_strerror(status));
        dec.reset();
    }
}

void OpusCodec::createEncoder() {
    if (enc) {
        return;
    }
    const int size = opus_encoder_get_size(kChannels);
    if (size > 0) {
        enc.reset(static_cast<OpusEncoder*>(std::malloc(static_cast<size_t>(size))));
    }
    if (!enc) {
        logLine("cannot allocate the Opus encoder");
        return;
    }
    const int status = opus_encoder_init(enc.get(), kSampleRate, kChannels, OPUS_APPLICATION_AUDIO);
    if (status != OPUS_OK) {
        logLine(std::string("cannot set up the Opus encoder: ") + opus_strerror(status));
        enc.reset();
        return;
    }
    // Constant 48,000 bit/s: every 10 ms packet is 60 bytes.
    const int results[] = {
        opus_encoder_ctl(enc.get(), OPUS_SET_BITRATE(48000)),
        opus_encoder_ctl(enc.get(), OPUS_SET_VBR(0)),
        opus_encoder_ctl(enc.get(), OPUS_SET_VBR_CONSTRAINT(1)),
        opus_encoder_ctl(enc.get(), OPUS_SET_COMPLEXITY(6)),
        opus_encoder_ctl(enc.get(), OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE)),
    };
    for (const int result : results) {
        if (result != OPUS_OK) {
            logLine(std::string("cannot configure the Opus encoder: ") + opus_strerror(result));
        }
    }
}

void OpusCodec::setDelegate(std::weak_ptr<OpusPacketSink> delegate) {
    std::lock_guard guard(delegateLock_);
    delegate_ = std::move(delegate);
}

void OpusCodec::startPlay() {
    play = true;
    player_->start();
}

void OpusCodec::stopPlay() {
    play = false;
    player_->stop();
}

void OpusCodec::decodeOpusData(ByteView packet) {
    const bool playing = play;
    if ((!playing && !hasSoundSinks_) || !dec || packet.size() > static_cast<size_t>(INT32_MAX)) {
        return;
    }
    auto* bytes = reinterpret_cast<uint8_t*>(pcm_buffer.data());
    // Packets shorter than 10 ms can leave the positions marching on without meeting; when the
    // next frame would not fit, the few queued bytes (under one block) move to the start.
    if (pPCMEnd + kFrameBytes > kDecoderBufferBytes) {
        std::memmove(bytes, bytes + pPCMBegin, pPCMEnd - pPCMBegin);
        pPCMEnd -= pPCMBegin;
        pPCMBegin = 0;
    }
    const int samples = opus_decode(dec.get(), packet.data(), static_cast<int32_t>(packet.size()),
                                    pcm_buffer.data() + pPCMEnd / 2, kFrameSamples, 0);
    if (samples <= 0) {
        return;
    }
    if (hasSoundSinks_) {
        const std::span<const int16_t> decoded(pcm_buffer.data() + pPCMEnd / 2,
                                               static_cast<size_t>(samples));
        for (const auto& sink : liveSoundSinks()) {
            sink->soundDecoded(decoded, kSampleRate, kChannels);
        }
    }
    if (!playing) {
        return;
    }
    pPCMEnd += 2 * static_cast<size_t>(samples);
    if (pPCMEnd - pPCMBegin >= kBlockBytes) {
        player_->playData(bytes + pPCMBegin, kBlockBytes);
        pPCMBegin += kBlockBytes;
        if (pPCMBegin == pPCMEnd) {
            pPCMBegin = pPCMEnd = 0;
        }
    }
}

void OpusCodec::encodePCMData(ByteView pcm) {
    if (!enc) {
        return;
    }
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    size_t length = pcm.size();
    // Chunks of other sizes than 1024 bytes may keep the positions from meeting at the start.
    // When a chunk does not fit after the end, the samples not yet encoded move to the start;
    // whatever still does not fit is dropped.
    if (pEnd + length > kEncoderBufferBytes) {
        std::memmove(bytes, bytes + pBegin, pEnd - pBegin);
        pEnd -= pBegin;
        pBegin = 0;
        length = std::min(length, kEncoderBufferBytes - pEnd);
    }
    if (length > 0) {
        std::memcpy(bytes + pEnd, pcm.data(), length);
    }
    // An odd last byte is copied but not counted: the next chunk's first sample overwrites it.
    pEnd += length & ~size_t{1};

    // A frame is encoded only once it has all its samples.
    if (pEnd - pBegin >= kFrameBytes) {
        const int32_t result = opus_encode(enc.get(), buffer.data() + pBegin / 2, kFrameSamples,
                                           opus_data_encoder.data(), opus_data_encoder.size());
        if (result > 0) {
            pBegin += kFrameBytes;
            deliverPacket(result);
        }
    }
    if (pEnd - pBegin == kFrameBytes) {
        const int32_t result = opus_encode(enc.get(), buffer.data() + pBegin / 2, kFrameSamples,
                                           opus_data_encoder.data(), opus_data_encoder.size());
        if (result > 0) {
            pBegin = pEnd = 0;
            deliverPacket(result);
        }
    }
}

void OpusCodec::deliverPacket(int32_t packetBytes) {
    std::shared_ptr<OpusPacketSink> delegate;
    {
        std::lock_guard guard(delegateLock_);
        delegate = delegate_.lock();
    }
    if (delegate) {
        delegate->getOpusData(
            Bytes(opus_data_encoder.begin(), opus_data_encoder.begin() + packetBytes));
    }
}

void OpusCodec::addSoundSink(std::weak_ptr<SoundSink> sink) {
    std::lock_guard guard(soundSinksLock_);
    const SoundSink* added = sink.lock().get();
    if (added == nullptr) {
        return;
    }
    for (const auto& known : soundSinks_) {
        if (known.lock().get() == added) {
            return;
        }
    }
    soundSinks_.push_back(std::move(sink));
    hasSoundSinks_ = true;
}

void OpusCodec::removeSoundSink(const SoundSink* sink) {
    std::lock_guard guard(soundSinksLock_);
    std::erase_if(soundSinks_, [sink](const std::weak_ptr<SoundSink>& weak) {
        const auto live = weak.lock();
        return !live || live.get() == sink;
    });
    hasSoundSinks_ = !soundSinks_.empty();
}

std::vector<std::shared_ptr<SoundSink>> OpusCodec::liveSoundSinks() {
    std::vector<std::shared_ptr<SoundSink>> live;
    std::lock_guard guard(soundSinksLock_);
    std::erase_if(soundSinks_, [&live](const std::weak_ptr<SoundSink>& weak) {
        auto sink = weak.lock();
        if (!sink) {
            return true;
        }
        live.push_back(std::move(sink));
        return false;
    });
    hasSoundSinks_ = !soundSinks_.empty();
    return live;
}

double OpusCodec::playbackFill() const {
    const PCMPlayer::RingState ring = player_->ringState();
    return ring.nodes == 0
               ? 0.0
               : static_cast<double>(ring.queuedBlocks) / static_cast<double>(ring.nodes);
}

}  // namespace vistamo
