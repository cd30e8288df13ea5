#include "dispatch/DescriptorWatch.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "dispatch/SerialQueue.h"

namespace vistamo::dispatch {
namespace {

// Readiness that work on the queue used up before the watch's turn came is not reported: a
// reader that takes "readable with 0 bytes waiting" for the end of the stream relies on this.
TEST(DescriptorWatch, ReadinessUsedUpMeanwhileIsNotReported) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    auto queue = SerialQueue::create("watch test");
    std::unique_ptr<DescriptorWatch> watch;
    std::atomic<int> readableCalls = 0;
    std::promise<size_t> reported;
    queue->sync([&] {
        watch = std::make_unique<DescriptorWatch>(*queue, pair[0]);
        watch->waitReadable([] {});
        ASSERT_EQ(::write(pair[1], "a", 1), 1);
        // Runs before the reactor's news of that byte reaches the watch.
        queue->async([&] {
            char byte;
            ASSERT_EQ(::read(pair[0], &byte, 1), 1);
            watch->waitReadable([&] {
                EXPECT_TRUE(queue->isCurrent());
                if (readableCalls++ == 0) {
                    reported.set_value(bytesAvailable(pair[0]));
                }
            });
            EXPECT_TRUE(watch->isWaitingToRead());
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(readableCalls, 0);

    ASSERT_EQ(::write(pair[1], "bc", 2), 2);  // the watch still reports real readiness
    auto available = reported.get_future();
    ASSERT_EQ(available.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(available.get(), 2u);

    // Cancelled waits are never reported.
    std::atomic<int> writable{0};
    queue->sync([&] {
        watch->waitWritable([&] { ++writable; });
        watch->waitReadable([&] { ++readableCalls; });
        watch->cancel();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue->sync([&] { watch.reset(); });
    EXPECT_EQ(readableCalls, 1);
    EXPECT_EQ(writable, 0);
    // The watch never owned the descriptor.
    EXPECT_EQ(::write(pair[1], "x", 1), 1);
    char buffer[8];
    EXPECT_EQ(::read(pair[0], buffer, sizeof buffer), 3);
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace
}  // namespace vistamo::dispatch
