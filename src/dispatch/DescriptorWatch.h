#pragma once

#include <asio/posix/stream_descriptor.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace vistamo::dispatch {

class SerialQueue;

// Readiness of a descriptor, delivered on the serial queue that owns it. The watch never owns
// or closes the descriptor. Like Timer, it is created, armed, cancelled and destroyed on the
// queue's thread only; each arming calls its handler at most once, and never after `cancel`
// or destruction.
class DescriptorWatch {
public:
    DescriptorWatch(SerialQueue& queue, int fd);
    ~DescriptorWatch();

    DescriptorWatch(const DescriptorWatch&) = delete;
    DescriptorWatch& operator=(const DescriptorWatch&) = delete;

    // Calls `ready` once the descriptor is readable (or has an error or end of stream pending).
    void waitReadable(std::function<void()> ready);
    // Calls `ready` once the descriptor is writable (or has an error pending).
    void waitWritable(std::function<void()> ready);
    // Drops both pending waits.
    void cancel();

    bool isWaitingToRead() const { return readArmed_; }
    bool isWaitingToWrite() const { return writeArmed_; }

    int fd() const { return fd_; }

private:
    void wait(asio::posix::descriptor_base::wait_type type, std::function<void()> ready);

    int fd_;
    asio::posix::stream_descriptor descriptor_;
    uint64_t readGeneration_ = 0;
    uint64_t writeGeneration_ = 0;
    bool readArmed_ = false;
    bool writeArmed_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Bytes waiting to be read on a descriptor (FIONREAD); 0 when the call fails.
size_t bytesAvailable(int fd);

}  // namespace vistamo::dispatch
