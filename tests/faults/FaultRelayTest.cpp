// The fault relay itself, between a plain client and a plain listener standing in for a camera.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "support/FaultRelay.h"
#include "support/Wait.h"
#include "support/WireClient.h"

namespace vistamo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Direction = FaultRelay::Direction;

class FaultRelayTest : public ::testing::Test {
protected:
    // A viewer connected through the relay, and the camera end of its connection.
    void connect() {
        viewer = std::make_unique<WireClient>(relay.port());
        ASSERT_TRUE(viewer->connected());
        camera = listener.accept();
        ASSERT_TRUE(camera);
    }

    WireListener listener;
    FaultRelay relay{listener.port()};
    std::unique_ptr<WireClient> viewer;
    std::unique_ptr<WireClient> camera;
};

TEST_F(FaultRelayTest, ThrottleHoldsTheRateDownAndLosesNothing) {
    connect();
    // 100 kB/s: 250 kB take at least 2.5 s less one bucket.
    relay.setThrottle(Direction::toViewer, 800'000);
    Bytes sent(250'000);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i * 7);
    }
    const auto start = Clock::now();
    std::thread sender([&] { camera->send(sent); });
    const Bytes got = viewer->readBytes(sent.size(), std::chrono::seconds(30));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sender.join();
    EXPECT_EQ(got, sent);
    EXPECT_GE(seconds, 2.3);
    std::printf("250 kB at 100 kB/s took %.2f s\n", seconds);

    // Lifting the throttle lets the rest through at once.
    relay.setThrottle(Direction::toViewer, 0);
    ASSERT_TRUE(camera->send(Bytes(100'000, 1)));
    EXPECT_EQ(viewer->readBytes(100'000).size(), 100'000u);
}

TEST_F(FaultRelayTest, StallHoldsBytesUntilItEnds) {
    connect();
    relay.stall();
    ASSERT_TRUE(camera->send(Bytes(1000, 5)));
    ASSERT_TRUE(viewer->send(Bytes(10, 6)));
    EXPECT_TRUE(viewer->readBytes(1, std::chrono::milliseconds(300)).empty());
    EXPECT_EQ(relay.bytesRelayed(Direction::toViewer), 0u);
    EXPECT_EQ(relay.bytesRelayed(Direction::toCamera), 0u);
    relay.resume();
    EXPECT_EQ(viewer->readBytes(1000), Bytes(1000, 5));
    EXPECT_EQ(camera->readBytes(10), Bytes(10, 6));
    EXPECT_EQ(relay.bytesRelayed(Direction::toViewer), 1000u);
    EXPECT_EQ(relay.bytesRelayed(Direction::toCamera), 10u);

    // A timed stall ends by itself.
    relay.stall(std::chrono::milliseconds(400));
    const auto start = Clock::now();
    ASSERT_TRUE(camera->send(Bytes(10, 7)));
    EXPECT_EQ(viewer->readBytes(10), Bytes(10, 7));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(350));
}

// What a raw socket sees next: its data, an orderly end (0), or an error number.
struct Ending {
    ssize_t result;
    int error;
};
Ending nextRead(uint16_t port, const std::function<void()>& afterConnect, WireListener& listener,
                std::unique_ptr<WireClient>& cameraEnd) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    cameraEnd = listener.accept();
    afterConnect();
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    uint8_t byte;
    errno = 0;
    const Ending ending{::recv(fd, &byte, 1, 0), errno};
    ::close(fd);
    return ending;
}

TEST_F(FaultRelayTest, ResetAndOrderlyCloseAreSeenAsSuchAtBothEnds) {
    std::unique_ptr<WireClient> cameraEnd;
    Ending reset = nextRead(
        relay.port(), [&] { relay.cut(FaultRelay::Cut::reset); }, listener, cameraEnd);
    EXPECT_EQ(reset.result, -1);
    EXPECT_EQ(reset.error, ECONNRESET);
    ASSERT_TRUE(cameraEnd);
    EXPECT_TRUE(cameraEnd->readBytes(1).empty());

    Ending close = nextRead(
        relay.port(), [&] { relay.cut(FaultRelay::Cut::close); }, listener, cameraEnd);
    EXPECT_EQ(close.result, 0);
    ASSERT_TRUE(cameraEnd);
    EXPECT_TRUE(cameraEnd->closedByPeer());
    EXPECT_EQ(relay.connectionsAccepted(), 2u);
    EXPECT_TRUE(waitUntil([&] { return relay.openConnections() == 0; }));
}

TEST_F(FaultRelayTest, EveryNewConnectionIsRelayedAndEndsFollowEachOther) {
    for (int round = 0; round < 3; ++round) {
        connect();
        ASSERT_TRUE(viewer->send(bytesOf("hello")));
        EXPECT_EQ(camera->readBytes(5), bytesOf("hello"));
        // The camera closing is passed on as an orderly end.
        camera.reset();
        EXPECT_TRUE(viewer->closedByPeer());
        viewer.reset();
    }
    EXPECT_EQ(relay.connectionsAccepted(), 3u);
    EXPECT_TRUE(waitUntil([&] { return relay.openConnections() == 0; }));
}

TEST_F(FaultRelayTest, InjectionAtAMessageBoundaryFallsBetweenMessages) {
    connect();
    const Bytes first = wireMessage(102, Bytes(1000, 1));
    const Bytes second = wireMessage(104, Bytes(50, 2));
    // Half of the first message, then the injection is asked for: it waits for the boundary.
    ASSERT_TRUE(camera->send(ByteView(first).first(500)));
    ASSERT_EQ(viewer->readBytes(500).size(), 500u);
    relay.inject(Direction::toViewer, bytesOf("GARBAGE"));
    EXPECT_EQ(relay.pendingInjections(), 1u);
    Bytes rest(first.begin() + 500, first.end());
    rest.insert(rest.end(), second.begin(), second.end());
    ASSERT_TRUE(camera->send(rest));

    Bytes expected(first.begin() + 500, first.end());
    const Bytes garbage = bytesOf("GARBAGE");
    expected.insert(expected.end(), garbage.begin(), garbage.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(viewer->readBytes(expected.size()), expected);
    EXPECT_EQ(relay.pendingInjections(), 0u);
}

}  // namespace
}  // namespace vistamo::test
