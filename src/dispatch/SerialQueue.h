#pragma once

#include <asio/io_context.hpp>
#include <memory>
#include <string>
#include <thread>

#include "dispatch/Queue.h"

namespace vistamo::dispatch {

// A serial queue backed by one thread that runs an Asio io_context. Timers and descriptor
// readiness (see Timer and DescriptorWatch) are delivered on the same thread, so everything a
// component does on its queue is serial.
//
// The thread is named after the label, or after `threadName` when one is given, so that two
// queues sharing a label can be told apart in a debugger or `top -H`. The kernel keeps at most
// 15 characters of a thread's name; longer names are cut.
//
// Lifecycle: the thread starts in `create` and runs until the queue is destroyed. Destruction
// lets the work already handed in run, drops delayed work that has not come due, and joins the
// thread; when the last reference goes away on the queue's own thread, the thread finishes that
// work by itself and exits.
class SerialQueue final : public Queue {
public:
    static std::shared_ptr<SerialQueue> create(std::string label, std::string threadName = {});
    ~SerialQueue() override;

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(Work work) override;
    void sync(Work work) override;
    void after(double seconds, Work work) override;
    bool isCurrent() const override;
    const std::string& label() const override;

    // The io_context the queue's thread runs; for timers and descriptors bound to this queue.
    asio::io_context& context();

private:
    struct State;
    SerialQueue(std::string label, std::string threadName);

    // Shared with the thread, which may outlive this object when the last reference is
    // dropped on the thread itself.
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace vistamo::dispatch
