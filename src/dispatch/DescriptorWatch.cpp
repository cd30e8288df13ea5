#include "dispatch/DescriptorWatch.h"

#include <poll.h>
#include <sys/ioctl.h>

#include "dispatch/SerialQueue.h"

namespace vistamo::dispatch {

namespace {
// Whether the descriptor is ready now (an error or hang-up counts as ready).
bool isReadyNow(int fd, bool reading) {
    pollfd probe{fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0};
    return ::poll(&probe, 1, 0) != 0;
}
}  // namespace

DescriptorWatch::DescriptorWatch(SerialQueue& queue, int fd)
    : fd_(fd), descriptor_(queue.context(), fd) {}

DescriptorWatch::~DescriptorWatch() {
    *alive_ = false;
    std::error_code ignored;
    descriptor_.cancel(ignored);
    // The descriptor belongs to our owner, who closes it.
    descriptor_.release();
}

void DescriptorWatch::waitReadable(std::function<void()> ready) {
    wait(asio::posix::descriptor_base::wait_read, std::move(ready));
}

void DescriptorWatch::waitWritable(std::function<void()> ready) {
    wait(asio::posix::descriptor_base::wait_write, std::move(ready));
}

void DescriptorWatch::wait(asio::posix::descriptor_base::wait_type type,
                           std::function<void()> ready) {
    const bool reading = type == asio::posix::descriptor_base::wait_read;
    uint64_t& generationField = reading ? readGeneration_ : writeGeneration_;
    bool& armed = reading ? readArmed_ : writeArmed_;
    if (armed) {
        // One wait of each kind at a time; the newer handler replaces the older.
        ++generationField;
    }
    const uint64_t generation = ++generationField;
    armed = true;
    descriptor_.async_wait(type, [this, alive = alive_, reading, generation,
                                  ready = std::move(ready)](const std::error_code& error) {
        if (!*alive || error == asio::error::operation_aborted) {
            return;
        }
        uint64_t& current = reading ? readGeneration_ : writeGeneration_;
        if (generation != current) {
            return;
        }
        (reading ? readArmed_ : writeArmed_) = false;
        // The reactor reports readiness as it was when it collected the event; work that ran on
        // the queue since then may have used it up (read the bytes that were waiting).
        if (!error && !isReadyNow(fd_, reading)) {
            wait(reading ? asio::posix::descriptor_base::wait_read
                         : asio::posix::descriptor_base::wait_write,
                 ready);
            return;
        }
        ready();
    });
}

void DescriptorWatch::cancel() {
    ++readGeneration_;
    ++writeGeneration_;
    readArmed_ = false;
    writeArmed_ = false;
    std::error_code ignored;
    descriptor_.cancel(ignored);
}

size_t bytesAvailable(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<size_t>(count);
}

}  // namespace vistamo::dispatch
