#include "ToneEncoder.h"

#include <opus/opus.h>

#include <array>
#include <cmath>
#include <numbers>

namespace vistamo::camera {

namespace {

// A quarter of full scale: clearly audible, far from clipping after coding.
constexpr double kAmplitude = 0.25 * 32767;
constexpr opus_int32 kBitsPerSecond = 48000;
// Larger than any packet libopus makes for one frame.
constexpr size_t kMaxPacketBytes = 1500;

}  // namespace

void ToneEncoder::EncoderDeleter::operator()(OpusEncoder* encoder) const {
    opus_encoder_destroy(encoder);
}

std::unique_ptr<ToneEncoder> ToneEncoder::open(double toneHz, std::string& error) {
    int result = OPUS_OK;
    std::unique_ptr<OpusEncoder, EncoderDeleter> encoder(
        opus_encoder_create(kSampleRate, 1, OPUS_APPLICATION_AUDIO, &result));
    if (result == OPUS_OK) {
        result = opus_encoder_ctl(encoder.get(), OPUS_SET_BITRATE(kBitsPerSecond));
    }
    if (result != OPUS_OK || !encoder) {
        error = std::string("cannot open the Opus encoder: ") + opus_strerror(result);
        return nullptr;
    }
    return std::make_unique<ToneEncoder>(Key(), toneHz, std::move(encoder));
}

ToneEncoder::ToneEncoder(Key, double toneHz, std::unique_ptr<OpusEncoder, EncoderDeleter> encoder)
    : radiansPerSample_(2 * std::numbers::pi * toneHz / kSampleRate),
      encoder_(std::move(encoder)) {}

std::optional<std::string> ToneEncoder::nextPacket(Bytes& packet) {
    std::array<opus_int16, kSamplesPerPacket> pcm;
    for (auto& sample : pcm) {
        sample = static_cast<opus_int16>(std::lround(kAmplitude * std::sin(phase_)));
        phase_ = std::fmod(phase_ + radiansPerSample_, 2 * std::numbers::pi);
    }
    packet.resize(kMaxPacketBytes);
    const opus_int32 size = opus_encode(encoder_.get(), pcm.data(), kSamplesPerPacket,
                                        packet.data(), static_cast<opus_int32>(packet.size()));
    if (size <= 0) {
        return std::string("the Opus encoder failed: ") + opus_strerror(size);
    }
    packet.resize(static_cast<size_t>(size));
    return std::nullopt;
}

}  // namespace vistamo::camera
