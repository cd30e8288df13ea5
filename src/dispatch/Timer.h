#pragma once

#include <asio/steady_timer.hpp>
#include <cstdint>
#include <functional>
#include <memory>

namespace vistamo::dispatch {

class SerialQueue;

// A one-shot timer on a serial queue. Owned by a component that lives on that queue: start,
// cancel and destruction happen on the queue's thread only, and the handler runs there. A
// cancelled (or restarted) timer never calls its old handler, even when it had already come due.
class Timer {
public:
    explicit Timer(SerialQueue& queue);
    ~Timer();

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void start(double seconds, std::function<void()> fire);
    void cancel();
    bool isRunning() const { return running_; }

private:
    asio::steady_timer timer_;
    uint64_t generation_ = 0;
    bool running_ = false;
    // Lets a handler that was already queued see that the timer is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vistamo::dispatch
