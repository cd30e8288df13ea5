#include "dispatch/MainQueue.h"

#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <mutex>

#include "dispatch/SerialQueue.h"

namespace vistamo::dispatch {

namespace {

struct MainQueueSlot {
    std::mutex lock;
    std::shared_ptr<Queue> queue;  // guarded by `lock`
};

// Process-wide and never destroyed: queue threads may still reach the main queue (or the
// concurrent queue) while the process exits, after static destructors have begun to run.
MainQueueSlot& mainSlot() {
    static auto* slot = new MainQueueSlot;
    return *slot;
}

}  // namespace

void setMainQueue(std::shared_ptr<Queue> queue) {
    MainQueueSlot& slot = mainSlot();
    std::lock_guard guard(slot.lock);
    slot.queue = std::move(queue);
}

Queue& mainQueue() {
    MainQueueSlot& slot = mainSlot();
    std::lock_guard guard(slot.lock);
    if (!slot.queue) {
        slot.queue = SerialQueue::create("main");
    }
    return *slot.queue;
}

void runConcurrently(Work work) {
    // The process-wide concurrent queue, like the system's global queue; never destroyed, for
    // the same reason as the main queue's slot.
    static auto* pool = new asio::thread_pool(4);
    asio::post(*pool, std::move(work));
}

}  // namespace vistamo::dispatch
