#include "discovery/Reachability.h"

#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>

#include <future>
#include <mutex>
#include <vector>

#include "discovery/ManualReachabilitySource.h"
#include "discovery/NetlinkReachabilitySource.h"
#include "dispatch/MainQueue.h"
#include "dispatch/SerialQueue.h"
#include "support/NetNamespace.h"
#include "support/ProcessResources.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::waitUntil;

constexpr ReachabilityFlags kReachable = kReachabilityFlagsReachable;

// What observers were given, recorded on the main queue.
class Recorder {
public:
    struct Seen {
        bool onMainQueue;
        std::string name;
        const Reachability* object;
        NetworkStatus status;  // read when the notification arrived
    };

    explicit Recorder(const std::shared_ptr<Reachability>& watcher) : watcher_(watcher) {
        id_ = watcher->addObserver([this](const ReachabilityNotification& notification) {
            const Seen seen{dispatch::mainQueue().isCurrent(), std::string(notification.name),
                            notification.object.get(),
                            notification.object->currentReachabilityStatus()};
            std::lock_guard guard(lock_);
            seen_.push_back(seen);
        });
    }
    ~Recorder() { watcher_->removeObserver(id_); }

    std::vector<Seen> seen() const {
        std::lock_guard guard(lock_);
        return seen_;
    }
    size_t count() const { return seen().size(); }
    std::optional<NetworkStatus> lastStatus() const {
        std::lock_guard guard(lock_);
        return seen_.empty() ? std::nullopt : std::optional(seen_.back().status);
    }

private:
    std::shared_ptr<Reachability> watcher_;
    Reachability::ObserverId id_ = 0;
    mutable std::mutex lock_;
    std::vector<Seen> seen_;  // guarded by lock_
};

// Holds the main queue until released, so that work posted meanwhile waits behind it.
class MainQueueGate {
public:
    MainQueueGate() {
        dispatch::mainQueue().async([opened = opened_.get_future().share()] { opened.wait(); });
    }
    ~MainQueueGate() { opened_.set_value(); }

private:
    std::promise<void> opened_;
};

class ReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override { dispatch::setMainQueue(dispatch::SerialQueue::create("main")); }

    // Lets what a manual source posted run through the watcher's queue, then the main queue.
    static void settle(const Reachability& watcher) {
        (void)watcher.currentReachabilityStatus();
        dispatch::mainQueue().sync([] {});
    }
};

TEST_F(ReachabilityTest, StatusFromFlagsAndFlagsFromTheKernelsState) {
    const auto status = &Reachability::networkStatusForFlags;
    EXPECT_EQ(status(0), NotReachable);
    EXPECT_EQ(status(kReachable), Reachable);

    // Reachable needs a usable link with an address and a route out of it.
    const uint32_t up = IFF_UP | IFF_RUNNING | IFF_MULTICAST;
    const auto route = [](uint8_t family, std::vector<int32_t> out, uint8_t type = RTN_UNICAST,
                          uint32_t table = RT_TABLE_MAIN) {
        return NetlinkRoute{
            .family = family, .type = type, .table = table, .outputInterfaces = std::move(out)};
    };
    NetworkSnapshot state;
    state.links = {{1, up | IFF_LOOPBACK, "lo"}, {2, up, "en0"}, {3, up, "docker0"}};
    state.addresses = {{1, AF_INET, 8, {127, 0, 0, 1}}, {2, AF_INET, 24, {10, 213, 0, 1}}};
    const auto flags = &NetlinkReachabilitySource::flagsForState;

    state.routes = {route(AF_INET, {2})};
    EXPECT_EQ(flags(state), kReachable);
    // Routes that lead out of loopback or a virtual interface, or nowhere, do not count.
    state.routes = {route(AF_INET, {1}), route(AF_INET, {3}), route(AF_INET, {2}, RTN_BLACKHOLE),
                    route(AF_INET, {2}, RTN_UNICAST, RT_TABLE_LOCAL)};
    EXPECT_EQ(flags(state), 0u);
    // A hop of a multipath route counts.
    state.routes.push_back(route(AF_INET, {7, 2}));
    EXPECT_EQ(flags(state), kReachable);
    // Without carrier, en0 does not count.
    state.links[1].flags = IFF_UP | IFF_MULTICAST;
    EXPECT_EQ(flags(state), 0u);

    // IPv6: link-local addresses and the routes every link has do not make a way out.
    state.links[1].flags = up;
    state.addresses = {{2, AF_INET6, 0, {0xfe, 0x80}}};
    NetlinkRoute linkScope = route(AF_INET6, {2});
    linkScope.destinationLength = 64;
    linkScope.destination = {0xfe, 0x80};
    state.routes = {linkScope, route(AF_INET6, {2})};
    EXPECT_EQ(flags(state), 0u);
    state.addresses.push_back({2, AF_INET6, 0, {0xfd, 0x00}});
    EXPECT_EQ(flags(state), kReachable);
    state.routes = {linkScope};
    EXPECT_EQ(flags(state), 0u);
}

TEST_F(ReachabilityTest, PostsEachChangeOfFlagsToObserversOnTheMainQueueWhileStarted) {
    const auto source = std::make_shared<ManualReachabilitySource>(kReachable);
    const auto watcher = Reachability::withSource(source);
    Recorder recorder(watcher);
    EXPECT_EQ(watcher->currentReachabilityStatus(), Reachable);
    ASSERT_TRUE(watcher->startNotifier());
    EXPECT_TRUE(watcher->startNotifier());  // already started

    source->setFlags(kReachable);
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 0u) << "the flags did not change";

    source->setFlags(0);
    settle(*watcher);
    source->setFlags(std::nullopt);
    settle(*watcher);
    source->setFlags(kReachable);
    settle(*watcher);

    const auto seen = recorder.seen();
    ASSERT_EQ(seen.size(), 3u);
    const NetworkStatus expected[] = {NotReachable, NotReachable, Reachable};
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE(seen[i].onMainQueue);
        EXPECT_EQ(seen[i].name, "kNetworkReachabilityChangedNotification");
        EXPECT_EQ(seen[i].object, watcher.get());
        EXPECT_EQ(seen[i].status, expected[i]) << i;
    }

    // Nothing while stopped.
    watcher->stopNotifier();
    source->setFlags(0);
    settle(*watcher);
    source->setFlags(kReachable);
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 3u);

    // A notification already waiting for the main queue when the notifier stops is dropped.
    ASSERT_TRUE(watcher->startNotifier());
    {
        MainQueueGate gate;
        source->setFlags(0);
        (void)watcher->currentReachabilityStatus();  // the change is now behind the gate
        watcher->stopNotifier();
    }
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 3u);

    // A restart compares with the flags it found.
    ASSERT_TRUE(watcher->startNotifier());
    source->setFlags(0);
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 3u);
    source->setFlags(kReachable);
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 4u);

    watcher->stopNotifier();
    source->setStartFails(true);
    EXPECT_FALSE(watcher->startNotifier());
    source->setFlags(0);
    settle(*watcher);
    EXPECT_EQ(recorder.count(), 4u);
}

TEST_F(ReachabilityTest, ObserversRemovedOrGoneAreNotCalledAndNothingStaysBehind) {
    dispatch::mainQueue().sync([] {});
    const auto before = test::ProcessResources::now();
    int firstCalls = 0;  // the counters are touched on the main queue only
    int secondCalls = 0;
    int thirdCalls = 0;
    {
        const auto source = std::make_shared<ManualReachabilitySource>(kReachable);
        auto watcher = Reachability::withSource(source);
        // Observers removed during a delivery are not called.
        Reachability::ObserverId second = 0;
        watcher->addObserver([&](const ReachabilityNotification&) {
            ++firstCalls;
            watcher->removeObserver(second);
        });
        second = watcher->addObserver([&](const ReachabilityNotification&) { ++secondCalls; });
        const auto third =
            watcher->addObserver([&](const ReachabilityNotification&) { ++thirdCalls; });
        ASSERT_TRUE(watcher->startNotifier());
        source->setFlags(0);
        settle(*watcher);
        watcher->removeObserver(third);
        source->setFlags(kReachable);
        settle(*watcher);

        // Going away drops what is pending.
        MainQueueGate gate;
        source->setFlags(0);
        (void)watcher->currentReachabilityStatus();
        watcher.reset();
        // The source outlives its watcher and must not reach it any more.
        source->setFlags(kReachable);
    }
    {
        // The kernel watcher's socket, watch and thread go with it too.
        auto watcher = Reachability::reachabilityForInternetConnection();
        ASSERT_TRUE(watcher->startNotifier());
        watcher.reset();
    }
    dispatch::mainQueue().sync([&] {
        EXPECT_EQ(firstCalls, 2);
        EXPECT_EQ(secondCalls, 0);
        EXPECT_EQ(thirdCalls, 1);
    });
    EXPECT_EQ(test::ProcessResources::now(), before);
}

TEST_F(ReachabilityTest, FollowsEn0GoingDownAndUpInsideANamespace) {
    test::NetNamespace net;
    if (!net.available()) {
        GTEST_SKIP() << net.unavailableReason();
    }
    // Made inside host 0, the watcher reads host 0's network whichever thread asks.
    std::shared_ptr<Reachability> watcher;
    ASSERT_TRUE(net.run(0, [&] { watcher = Reachability::reachabilityForInternetConnection(); }));
    ASSERT_TRUE(watcher);
    Recorder recorder(watcher);
    EXPECT_EQ(watcher->currentReachabilityStatus(), Reachable);
    ASSERT_TRUE(watcher->startNotifier());

    ASSERT_TRUE(net.setLinkUp(0, false));
    EXPECT_TRUE(waitUntil([&] { return recorder.lastStatus() == NotReachable; }));
    EXPECT_EQ(watcher->currentReachabilityStatus(), NotReachable);
    ASSERT_TRUE(net.setLinkUp(0, true));
    EXPECT_TRUE(waitUntil([&] { return recorder.lastStatus() == Reachable; }));

    // Only the link-local IPv6 address stays: no way out.
    ASSERT_TRUE(net.ip(0, {"addr", "flush", "dev", "en0", "scope", "global"}));
    EXPECT_TRUE(waitUntil([&] { return recorder.lastStatus() == NotReachable; }));
    ASSERT_TRUE(net.ip(0, {"addr", "add", net.host(0).ipv4 + "/24", "dev", "en0"}));
    EXPECT_TRUE(waitUntil([&] { return recorder.lastStatus() == Reachable; }));

    const auto seen = recorder.seen();
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().status, NotReachable);
    for (const auto& notification : seen) {
        EXPECT_TRUE(notification.onMainQueue);
        EXPECT_EQ(notification.object, watcher.get());
    }
}

}  // namespace
}  // namespace vistamo
