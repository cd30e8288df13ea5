#include "dispatch/SerialQueue.h"

#include <pthread.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <future>

namespace vistamo::dispatch {

struct SerialQueue::State {
    explicit State(std::string name) : label(std::move(name)), guard(io.get_executor()) {}

    const std::string label;
    asio::io_context io;
    // Keeps `io.run()` going while the queue has nothing to do; reset at destruction.
    asio::executor_work_guard<asio::io_context::executor_type> guard;
};

namespace {
thread_local const void* tCurrentState = nullptr;

// A delay longer than this (about 31 years) is cut to it: converting a larger or infinite number
// of seconds to the clock's integer ticks would overflow.
constexpr double kLongestDelaySeconds = 1e9;

constexpr size_t kThreadNameLength = 15;
}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label, std::string threadName) {
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label), std::move(threadName)));
}

SerialQueue::SerialQueue(std::string label, std::string threadName)
    : state_(std::make_shared<State>(std::move(label))) {
    if (threadName.empty()) {
        threadName = state_->label;
    }
    // Thread names are limited to 15 characters by the kernel.
    threadName.resize(std::min<size_t>(threadName.size(), kThreadNameLength));
    thread_ = std::thread([state = state_, threadName = std::move(threadName)] {
        pthread_setname_np(pthread_self(), threadName.c_str());
        tCurrentState = state.get();
        state->io.run();
        tCurrentState = nullptr;
    });
}

SerialQueue::~SerialQueue() {
    // Work posted before this point runs first; then the loop stops, abandoning timers.
    auto state = state_;
    asio::post(state->io, [state] { state->io.stop(); });
    state->guard.reset();
    if (tCurrentState == state.get()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::async(Work work) {
    // The work may drop the last reference to this queue before the post has returned: the
    // local reference keeps the loop alive until then.
    const auto state = state_;
    asio::post(state->io, std::move(work));
}

void SerialQueue::sync(Work work) {
    if (isCurrent()) {
        work();
        return;
    }
    // Shared with the work, so that neither side frees it while the other still signals.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    const auto state = state_;
    asio::post(state->io, [&work, done] {
        work();
        done->set_value();
    });
    finished.wait();
}

void SerialQueue::after(double seconds, Work work) {
    if (!(seconds > 0)) {  // also when not a number
        async(std::move(work));
        return;
    }
    const auto state = state_;
    auto timer = std::make_shared<asio::steady_timer>(
        state->io, std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(std::min(seconds, kLongestDelaySeconds))));
    timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
        if (!error) {
            work();
        }
    });
}

bool SerialQueue::isCurrent() const { return tCurrentState == state_.get(); }

const std::string& SerialQueue::label() const { return state_->label; }

asio::io_context& SerialQueue::context() { return state_->io; }

}  // namespace vistamo::dispatch
