#include "IntercomDecoder.h"

#include <opus/opus.h>

#include <limits>

namespace vistamo::camera {

namespace {

// 120 ms at 48,000 Hz: the longest packet Opus can carry.
constexpr int kMaxPacketSamples = 5760;

}  // namespace

void IntercomDecoder::DecoderDeleter::operator()(OpusDecoder* decoder) const {
    opus_decoder_destroy(decoder);
}

std::unique_ptr<IntercomDecoder> IntercomDecoder::open(std::string& error) {
    int result = OPUS_OK;
    std::unique_ptr<OpusDecoder, DecoderDeleter> decoder(
        opus_decoder_create(kSampleRate, 1, &result));
    if (result != OPUS_OK || !decoder) {
        error = std::string("cannot open the Opus decoder: ") + opus_strerror(result);
        return nullptr;
    }
    return std::make_unique<IntercomDecoder>(Key(), std::move(decoder));
}

IntercomDecoder::IntercomDecoder(Key, std::unique_ptr<OpusDecoder, DecoderDeleter> decoder)
    : decoder_(std::move(decoder)), pcm_(kMaxPacketSamples) {}

IntercomDecoder::Outcome IntercomDecoder::decode(ByteView packet) {
    samples_ = 0;
    // An empty packet would ask libopus to conceal a loss, which is not what arrived.
    if (packet.empty() ||
        packet.size() > static_cast<size_t>(std::numeric_limits<opus_int32>::max())) {
        return Outcome::Undecodable;
    }
    const int count =
        opus_decode(decoder_.get(), packet.data(), static_cast<opus_int32>(packet.size()),
                    pcm_.data(), kMaxPacketSamples, 0);
    if (count <= 0) {
        return Outcome::Undecodable;
    }
    if (count > kMaxAcceptedSamples) {
        return Outcome::TooLong;
    }
    samples_ = static_cast<size_t>(count);
    return Outcome::Decoded;
}

}  // namespace vistamo::camera
