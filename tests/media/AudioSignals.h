#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <span>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo::test {

inline constexpr double kRate = 48000.0;

inline std::vector<int16_t> tone(double hz, size_t count, double amplitude) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        samples[i] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * t)));
    }
    return samples;
}

inline Bytes bytesOfSamples(std::span<const int16_t> samples) {
    Bytes bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

inline std::vector<int16_t> samplesOf(ByteView bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

inline Bytes constantBlock(int16_t value, size_t bytes = 1024) {
    return bytesOfSamples(std::vector<int16_t>(bytes / 2, value));
}

// The signal's power at `hz` (Goertzel).
inline double powerAt(std::span<const int16_t> samples, double hz) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double previous = 0, beforePrevious = 0;
    for (const int16_t sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious -
           coefficient * previous * beforePrevious;
}

// Whether `hz` carries at least ten times the power of each of a spread of other frequencies.
inline bool toneDominates(std::span<const int16_t> samples, double hz) {
    const double wanted = powerAt(samples, hz);
    for (const double other : {hz * 0.5, hz * 0.75, hz * 1.25, hz * 1.5, hz * 2, hz * 3}) {
        if (wanted < 10 * powerAt(samples, other)) {
            return false;
        }
    }
    return true;
}

}  // namespace vistamo::test
