#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace vistamo::camera {

// A timer that calls `onTick` once per period on the io_context, on deadlines fixed from the
// start, so that the rate holds on average even when single ticks run late. When the loop falls
// behind, up to `maxCatchUp` overdue ticks run back to back; beyond that the missed ones are
// dropped and the deadlines start again from now.
//
// Lifecycle: start and stop at will; after stop or destruction `onTick` never runs again, also
// not from a wait that had already completed. Threads: the io_context's thread only. `onTick`
// may call stop.
class Ticker {
public:
    using Clock = std::chrono::steady_clock;

    Ticker(asio::io_context& context, Clock::duration period, int maxCatchUp,
           std::function<void()> onTick);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    // The first tick comes one period from now. Does nothing when running.
    void start();
    void stop();
    bool running() const { return running_; }

private:
    void wait();
    void fired(uint64_t generation);

    // Set once at construction.
    const Clock::duration period_;
    const int maxCatchUp_;
    const std::function<void()> onTick_;

    // The io_context's thread only.
    asio::steady_timer timer_;
    Clock::time_point next_;
    bool running_ = false;
    // Counts starts and stops, so that a wait from an earlier run sees that it is stale.
    uint64_t generation_ = 0;
    // Handlers hold it weakly: once it is gone, so is the ticker.
    std::shared_ptr<Ticker*> self_;
};

}  // namespace vistamo::camera
