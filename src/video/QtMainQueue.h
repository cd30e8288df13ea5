#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "dispatch/Queue.h"

namespace vistamo {

// The main queue on Qt's main thread and event loop. Install it with
// `dispatch::setMainQueue(QtMainQueue::create())` after the QApplication exists and before any
// component uses the main queue.
//
// `async` and `after` post to the event loop from any thread. `sync` runs the work inline on
// the main thread; from any other thread it posts the work and blocks until the main thread has
// run it, so the main thread must never wait on a thread that may be inside `sync`.
class QtMainQueue final : public dispatch::Queue {
public:
    // Call on the main thread.
    static std::shared_ptr<QtMainQueue> create();
    ~QtMainQueue() override;

    void async(dispatch::Work work) override;
    void sync(dispatch::Work work) override;
    void after(double seconds, dispatch::Work work) override;
    bool isCurrent() const override;
    const std::string& label() const override;

private:
    QtMainQueue();

    // Lives on the main thread; the receiver of every posted call. Set once in the
    // constructor.
    std::unique_ptr<QObject> context_;
    std::string label_ = "main";
};

}  // namespace vistamo
