#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vistamo::camera {

// A WAV file of 16-bit mono PCM at 48,000 Hz that grows by appends. The header's sizes are
// brought up to date after every append, so the file is whole whenever the camera stops, also
// when it is killed.
//
// Threads: one thread at a time.
class WavWriter {
public:
    static constexpr int kSampleRate = 48000;

    // Creates (or empties) the file and writes a header for no samples; an error text on failure.
    static std::unique_ptr<WavWriter> create(const std::string& path, std::string& error);

    // An error text when the samples could not be written whole, or the file would pass the
    // format's 4 GiB; what was written before stays valid.
    std::optional<std::string> append(std::span<const int16_t> samples);

    // Only create() makes one; the key keeps others out while letting it use std::make_unique.
    class Key {
        friend class WavWriter;
        Key() = default;
    };
    WavWriter(Key, int fd, std::string path);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

private:
    // Writes all of `bytes` at `offset`; an error text on failure.
    std::optional<std::string> writeAt(const uint8_t* bytes, size_t count, uint64_t offset);

    // Set once at construction; the descriptor is closed by the destructor.
    const int fd_;
    const std::string path_;

    uint32_t dataBytes_ = 0;
};

}  // namespace vistamo::camera
