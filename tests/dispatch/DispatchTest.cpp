#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "dispatch/Timer.h"
#include "support/Wait.h"

namespace vistamo::dispatch {
namespace {

using test::waitUntil;

TEST(SerialQueue, RunsWorkInOrderOneAtATime) {
    auto queue = SerialQueue::create("order");
    std::vector<int> seen;  // touched on the queue only, read after a sync
    std::atomic<int> running{0};
    bool overlapped = false;
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) {
                queue->async([&, value = t * 1000 + i] {
                    if (running.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    seen.push_back(value);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    queue->sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 1000u);
    // Each sender's items stay in the order it handed them in.
    std::vector<int> last(4, -1);
    for (int value : seen) {
        EXPECT_GT(value % 1000, last[value / 1000]);
        last[value / 1000] = value % 1000;
    }
}

TEST(SerialQueue, SyncRunsInlineOnItsOwnQueueAndKnowsWhereItIs) {
    auto queue = SerialQueue::create("inline");
    auto other = SerialQueue::create("other");
    EXPECT_FALSE(queue->isCurrent());
    bool nested = false;
    bool onQueue = false;
    bool otherSeesItself = false;
    queue->sync([&] {
        onQueue = queue->isCurrent() && !other->isCurrent();
        queue->sync([&] { nested = true; });  // would deadlock if it waited
        other->sync([&] { otherSeesItself = other->isCurrent() && !queue->isCurrent(); });
    });
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(nested);
    EXPECT_TRUE(otherSeesItself);
    EXPECT_EQ(queue->syncResult([] { return 42; }), 42);
}

TEST(SerialQueue, DelayedWorkComesDueInOrderAndDestructionDropsTheRest) {
    std::vector<int> fired;  // touched on the queue only, read once it is gone
    std::atomic<size_t> count{0};
    {
        auto queue = SerialQueue::create("after");
        for (const auto& [delay, value] : {std::pair{0.05, 2}, {0.0, 1}, {30.0, 3}}) {
            queue->after(delay, [&, number = value] {
                fired.push_back(number);
                ++count;
            });
        }
        ASSERT_TRUE(waitUntil([&] { return count == 2; }));
    }
    // The queue is gone: the 30-second item never runs, and destruction did not wait for it.
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, LastReferenceMayBeDroppedOnTheQueueItself) {
    std::atomic<bool> ran{false};
    auto queue = SerialQueue::create("self");
    auto* raw = queue.get();
    raw->async([&ran, keep = std::move(queue)]() mutable {
        keep.reset();  // destroys the queue from its own thread
        ran = true;
    });
    EXPECT_TRUE(waitUntil([&] { return ran.load(); }));
}

// Two queues may share a label and still be told apart by their threads' names.
TEST(SerialQueue, ThreadIsNamedApartFromItsLabelAndTheNameIsCut) {
    const auto threadName = [](SerialQueue& queue) {
        std::string name;
        queue.sync([&] {
            char buffer[64] = {};
            pthread_getname_np(pthread_self(), buffer, sizeof buffer);
            name = buffer;
        });
        return name;
    };
    auto session = SerialQueue::create("Client Queue", "session");
    auto discovery = SerialQueue::create("Client Queue", "discovery");
    auto unnamed = SerialQueue::create("a label longer than fifteen");
    auto longName = SerialQueue::create("label", "a thread name longer than fifteen");
    EXPECT_EQ(session->label(), "Client Queue");
    EXPECT_EQ(discovery->label(), "Client Queue");
    EXPECT_EQ(threadName(*session), "session");
    EXPECT_EQ(threadName(*discovery), "discovery");
    EXPECT_EQ(threadName(*unnamed), "a label longer ");
    EXPECT_EQ(unnamed->label(), "a label longer than fifteen");
    EXPECT_EQ(threadName(*longName), "a thread name l");
}

TEST(Timer, CancelledOrRestartedTimerNeverCallsItsOldHandler) {
    auto queue = SerialQueue::create("timer");
    std::atomic<int> first{0}, second{0}, third{0};
    std::unique_ptr<Timer> timer;
    queue->sync([&] {
        timer = std::make_unique<Timer>(*queue);
        timer->start(0.01, [&] { ++first; });
        timer->cancel();
        timer->start(0.01, [&] { ++second; });
        timer->start(0.02, [&] { ++third; });  // replaces the second
    });
    ASSERT_TRUE(waitUntil([&] { return third == 1; }));
    queue->sync([&] {
        EXPECT_FALSE(timer->isRunning());
        // Come due, then cancelled before its handler got to run.
        timer->start(0, [&] { ++first; });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        timer->cancel();
    });
    queue->sync([&] { timer.reset(); });
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
}

}  // namespace
}  // namespace vistamo::dispatch
