#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"

struct OpusEncoder;

namespace vistamo::camera {

// A sine tone as Opus packets: 48,000 Hz, one channel, 480 samples (10 ms) per packet.
//
// Threads: one thread at a time.
class ToneEncoder {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kSamplesPerPacket = 480;

    struct EncoderDeleter {
        void operator()(OpusEncoder* encoder) const;
    };

    // An error text for people when libopus refuses.
    static std::unique_ptr<ToneEncoder> open(double toneHz, std::string& error);

    // Only open() makes one; the key keeps others out while letting it use std::make_unique.
    class Key {
        friend class ToneEncoder;
        Key() = default;
    };
    ToneEncoder(Key, double toneHz, std::unique_ptr<OpusEncoder, EncoderDeleter> encoder);

    // The next 10 ms of the tone; an error text when libopus fails.
    std::optional<std::string> nextPacket(Bytes& packet);

private:
    // Set once at construction.
    const double radiansPerSample_;
    const std::unique_ptr<OpusEncoder, EncoderDeleter> encoder_;

    // Where the tone stands, in radians, kept within one period.
    double phase_ = 0;
};

}  // namespace vistamo::camera
