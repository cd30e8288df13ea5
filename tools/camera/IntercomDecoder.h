#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Bytes.h"

struct OpusDecoder;

namespace vistamo::camera {

// Decodes a client's intercom packets (command 104), which are arbitrary bytes until libopus
// has read them: 48,000 Hz, one channel, at most 480 samples (10 ms) per packet accepted.
//
// Threads: one thread at a time.
class IntercomDecoder {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kMaxAcceptedSamples = 480;

    struct DecoderDeleter {
        void operator()(OpusDecoder* decoder) const;
    };

    // An error text for people when libopus refuses.
    static std::unique_ptr<IntercomDecoder> open(std::string& error);

    // Only open() makes one; the key keeps others out while letting it use std::make_unique.
    class Key {
        friend class IntercomDecoder;
        Key() = default;
    };
    IntercomDecoder(Key, std::unique_ptr<OpusDecoder, DecoderDeleter> decoder);

    enum class Outcome {
        Decoded,      // pcm() holds the packet's samples
        Undecodable,  // libopus rejected it
        TooLong,      // more than 10 ms
    };
    Outcome decode(ByteView packet);

    // The samples of the last packet that decoded; valid until the next decode.
    std::span<const int16_t> pcm() const { return {pcm_.data(), samples_}; }

private:
    const std::unique_ptr<OpusDecoder, DecoderDeleter> decoder_;
    // Room for the longest packet Opus allows (120 ms), so that no packet overruns it.
    std::vector<int16_t> pcm_;
    size_t samples_ = 0;
};

}  // namespace vistamo::camera
