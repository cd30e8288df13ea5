#include "WavWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vistamo::camera {

namespace {

constexpr size_t kHeaderBytes = 44;
constexpr size_t kRiffSizeOffset = 4;
constexpr size_t kDataSizeOffset = 40;
// The RIFF size field counts everything after its own 8 bytes in 32 bits.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderBytes - 8);

void putLe(uint8_t* out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::array<uint8_t, kHeaderBytes> header(uint32_t dataBytes) {
    std::array<uint8_t, kHeaderBytes> h{};
    std::memcpy(&h[0], "RIFF", 4);
    putLe(&h[kRiffSizeOffset], static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes), 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    putLe(&h[16], 16, 4);  // format chunk size
    putLe(&h[20], 1, 2);   // PCM
    putLe(&h[22], 1, 2);   // channels
    putLe(&h[24], WavWriter::kSampleRate, 4);
    putLe(&h[28], WavWriter::kSampleRate * 2, 4);  // bytes per second
    putLe(&h[32], 2, 2);                           // bytes per sample frame
    putLe(&h[34], 16, 2);                          // bits per sample
    std::memcpy(&h[36], "data", 4);
    putLe(&h[kDataSizeOffset], dataBytes, 4);
    return h;
}

}  // namespace

std::unique_ptr<WavWriter> WavWriter::create(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    auto writer = std::make_unique<WavWriter>(Key(), fd, path);
    const auto empty = header(0);
    if (auto failed = writer->writeAt(empty.data(), empty.size(), 0)) {
        error = std::move(*failed);
        return nullptr;
    }
    return writer;
}

WavWriter::WavWriter(Key, int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

WavWriter::~WavWriter() { ::close(fd_); }

std::optional<std::string> WavWriter::append(std::span<const int16_t> samples) {
    const uint64_t bytes = samples.size() * 2;
    if (dataBytes_ + bytes > kMaxDataBytes) {
        return path_ + " is full";
    }
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < samples.size(); ++i) {
        putLe(&data[2 * i], static_cast<uint16_t>(samples[i]), 2);
    }
    if (auto error = writeAt(data.data(), data.size(), kHeaderBytes + dataBytes_)) {
        return error;
    }
    dataBytes_ += static_cast<uint32_t>(bytes);
    const auto h = header(dataBytes_);
    if (auto error = writeAt(&h[kRiffSizeOffset], 4, kRiffSizeOffset)) {
        return error;
    }
    return writeAt(&h[kDataSizeOffset], 4, kDataSizeOffset);
}

std::optional<std::string> WavWriter::writeAt(const uint8_t* bytes, size_t count, uint64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return "cannot write " + path_ + ": " + (n < 0 ? std::strerror(errno) : "no space");
        }
        done += static_cast<size_t>(n);
    }
    return std::nullopt;
}

}  // namespace vistamo::camera
