#include "dispatch/MainQueue.h"

#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <mutex>

#include "dispatch/SerialQueue.h"

namespace vistamo::dispatch {

namespace {
std::mutex gMainLock;
std::shared_ptr<Queue> gMain;  // guarded by gMainLock
}  // namespace

void setMainQueue(std::shared_ptr<Queue> queue) {
    std::lock_guard guard(gMainLock);
    gMain = std::move(queue);
}

Queue& mainQueue() {
    std::lock_guard guard(gMainLock);
    if (!gMain) {
        gMain = SerialQueue::create("main");
    }
    return *gMain;
}

void runConcurrently(Work work) {
    // The process-wide concurrent queue, like the system's global queue; its threads are joined
    // at exit.
    static asio::thread_pool pool(4);
    asio::post(pool, std::move(work));
}

}  // namespace vistamo::dispatch
