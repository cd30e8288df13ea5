#include "Ticker.h"

namespace vistamo::camera {

Ticker::Ticker(asio::io_context& context, Clock::duration period, int maxCatchUp,
               std::function<void()> onTick)
    : period_(period),
      maxCatchUp_(maxCatchUp),
      onTick_(std::move(onTick)),
      timer_(context),
      self_(std::make_shared<Ticker*>(this)) {}

Ticker::~Ticker() { stop(); }

void Ticker::start() {
    if (running_) {
        return;
    }
    running_ = true;
    ++generation_;
    next_ = Clock::now() + period_;
    wait();
}

void Ticker::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    ++generation_;
    timer_.cancel();
}

void Ticker::wait() {
    timer_.expires_at(next_);
    timer_.async_wait([weak = std::weak_ptr<Ticker*>(self_),
                       generation = generation_](const std::error_code& error) {
        const auto self = weak.lock();
        if (self && !error) {
            (*self)->fired(generation);
        }
    });
}

void Ticker::fired(uint64_t generation) {
    for (int done = 0; done < maxCatchUp_ && next_ <= Clock::now(); ++done) {
        onTick_();
        if (generation != generation_) {
            return;  // stopped, and perhaps started again, by the tick
        }
        next_ += period_;
    }
    if (next_ <= Clock::now()) {
        next_ = Clock::now() + period_;
    }
    wait();
}

}  // namespace vistamo::camera
