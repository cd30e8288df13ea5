#include "discovery/UdpSocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>

#include "dispatch/MainQueue.h"
#include "dispatch/SerialQueue.h"
#include "support/DatagramSocket.h"
#include "support/ProcessResources.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::waitUntil;
using SocketRef = std::shared_ptr<UdpSocket>;

struct Event {
    enum class Kind { sent, notSent, received, closed };
    Kind kind;
    int64_t tag = 0;
    std::optional<Error> error;
    Bytes data;
    Bytes address;
};

// Records every delegate call; fails the test when one arrives off the delegate queue.
class Recorder : public UdpSocketDelegate {
public:
    explicit Recorder(std::shared_ptr<dispatch::SerialQueue> queue) : queue_(std::move(queue)) {}

    // Runs on the delegate queue for each call, before it is recorded, so that a test that has
    // seen an event knows that its hook is done. Set before any socket exists.
    std::function<void(const SocketRef&, const Event&)> onEvent;

    void datagramSent(const SocketRef& sock, int64_t tag) override {
        record(sock, {Event::Kind::sent, tag, {}, {}, {}});
    }
    void datagramNotSent(const SocketRef& sock, int64_t tag, const Error& error) override {
        record(sock, {Event::Kind::notSent, tag, error, {}, {}});
    }
    void datagramReceived(const SocketRef& sock, Bytes data, Bytes address,
                          const std::shared_ptr<void>&) override {
        record(sock, {Event::Kind::received, 0, {}, std::move(data), std::move(address)});
    }
    void socketClosed(const SocketRef& sock, const std::optional<Error>& error) override {
        record(sock, {Event::Kind::closed, 0, error, {}, {}});
    }

    std::vector<Event> events() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    bool waitForEvents(size_t count) const {
        return waitUntil([&] { return events().size() >= count; });
    }

private:
    void record(const SocketRef& sock, Event event) {
        EXPECT_TRUE(queue_->isCurrent());
        if (onEvent) {
            onEvent(sock, event);
        }
        std::lock_guard guard(lock_);
        events_.push_back(std::move(event));
    }

    const std::shared_ptr<dispatch::SerialQueue> queue_;
    mutable std::mutex lock_;
    std::vector<Event> events_;  // guarded by lock_
};

// A peer on the loopback address of one family, at a port of its own.
struct Peer : test::DatagramSocket {
    explicit Peer(const char* loopback) : DatagramSocket(loopback, 0), loopback(loopback) {}
    void sendTo(uint16_t port, ByteView bytes) { send(bytes, loopback, port); }
    const std::string loopback;
};

std::string describe(const Error& error) {
    return error.domain + " " + std::to_string(error.code) + ": " + error.description +
           (error.reason.empty() ? "" : ", " + error.reason);
}

std::string describe(const Event& event) {
    switch (event.kind) {
        case Event::Kind::sent:
            return "sent " + std::to_string(event.tag);
        case Event::Kind::notSent:
            return "not sent " + std::to_string(event.tag) + ": " + describe(*event.error);
        case Event::Kind::received:
            return "received " + std::to_string(event.data.size());
        case Event::Kind::closed:
            return event.error ? "closed: " + describe(*event.error) : "closed";
    }
    return {};
}

const std::string kDomain = kUdpSocketErrorDomain;

std::string failure(bool succeeded, const Error& error) {
    return succeeded ? "succeeded" : describe(error);
}

std::string posixFailure(int code, const std::string& reason) {
    return std::string(kPosixErrorDomain) + " " + std::to_string(code) + ": " +
           std::strerror(code) + ", " + reason;
}

class UdpSocketTest : public ::testing::Test {
protected:
    SocketRef makeSocket() { return UdpSocket::create(recorder, delegateQueue); }

    // Every event so far, described, once the delegate queue has delivered what it holds.
    std::vector<std::string> lines() const {
        delegateQueue->sync([] {});
        std::vector<std::string> described;
        for (const Event& event : recorder->events()) {
            described.push_back(describe(event));
        }
        return described;
    }

    std::vector<Event> received(size_t count) const {
        std::vector<Event> found;
        EXPECT_TRUE(waitUntil([&] {
            found.clear();
            for (const Event& event : recorder->events()) {
                if (event.kind == Event::Kind::received) {
                    found.push_back(event);
                }
            }
            return found.size() >= count;
        }));
        return found;
    }

    const std::shared_ptr<dispatch::SerialQueue> delegateQueue =
        dispatch::SerialQueue::create("udp delegate");
    const std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(delegateQueue);
    Error error;
};

TEST_F(UdpSocketTest, BindsOnceAndRefusesWhatItCannotCarryOut) {
    const auto sock = makeSocket();
    EXPECT_EQ(sock->localPort(), 0);
    EXPECT_EQ(failure(sock->beginReceiving(&error), error),
              kDomain +
                  " 1: Must bind socket before you can receive data. You can do this "
                  "explicitly via bind, or implicitly via connect or by sending data.");
    EXPECT_EQ(failure(sock->joinMulticastGroup("239.255.0.8", "lo", &error), error),
              kDomain + " 1: Must bind a socket before joining a multicast group.");
    EXPECT_EQ(failure(sock->bindToPort(0, "no-such-if9", &error), error),
              kDomain +
                  " 2: Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                  "address.");
    sock->setIPv4Enabled(false);
    EXPECT_EQ(failure(sock->bindToPort(0, "127.0.0.1", &error), error),
              kDomain + " 2: IPv4 has been disabled and specified interface doesn't support IPv6.");
    sock->setIPv4Enabled(true);
    sock->close();  // never opened: nothing to report

    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    EXPECT_NE(sock->localPort(), 0);
    EXPECT_EQ(failure(sock->bindToPort(0, &error), error),
              kDomain + " 1: Cannot bind a socket more than once.");
    sock->close();
    sock->close();
    EXPECT_EQ(sock->localPort(), 0);
    // One orderly close, of the last bind: the failed ones left nothing open.
    EXPECT_EQ(lines(), std::vector<std::string>{"closed"});

    // An IPv6 join closes the IPv4 descriptor; an IPv4 group is then out of reach.
    const auto sixOnly = makeSocket();
    ASSERT_TRUE(sixOnly->bindToPort(0, &error)) << describe(error);
    ASSERT_TRUE(sixOnly->joinMulticastGroup("ff15::0001", "lo", &error)) << describe(error);
    sixOnly->performBlock([&] {
        EXPECT_EQ(sixOnly->socket4FD(), -1);
        EXPECT_GE(sixOnly->socket6FD(), 0);
    });
    EXPECT_EQ(failure(sixOnly->joinMulticastGroup("239.255.0.8", "lo", &error), error),
              kDomain + " 2: Socket, group, and interface do not have matching IP versions");
}

TEST_F(UdpSocketTest, SendsLeaveOneAtATimeInOrderEachReportedOnceWithItsTag) {
    Peer peer("127.0.0.1");
    const auto sock = makeSocket();
    // The delegate may call into the socket from its callbacks.
    std::vector<uint16_t> portsSeen;  // delegate queue only
    recorder->onEvent = [&](const SocketRef& socket, const Event&) {
        portsSeen.push_back(socket->localPort());
    };
    sock->sendData({}, "127.0.0.1", peer.port(), -1, 99);  // empty: no datagram, no callback
    constexpr int kCount = 20;
    std::vector<std::string> expected;
    for (int i = 1; i <= kCount; ++i) {
        sock->sendData(Bytes{static_cast<uint8_t>(i)}, "127.0.0.1", peer.port(), -1, i);
        expected.push_back("sent " + std::to_string(i));
    }
    for (int i = 1; i <= kCount; ++i) {
        EXPECT_EQ(peer.receive().value().data, Bytes{static_cast<uint8_t>(i)});
    }
    ASSERT_TRUE(recorder->waitForEvents(kCount));
    EXPECT_EQ(lines(), expected);

    // Sending bound the socket: it can receive an answer on that port.
    const uint16_t port = sock->localPort();
    EXPECT_EQ(portsSeen.back(), port);
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    peer.sendTo(port, bytesOf("answer"));
    EXPECT_EQ(received(1).at(0).data, bytesOf("answer"));
}

TEST_F(UdpSocketTest, ReceivesAlternatelyAndCutsLongDatagrams) {
    Peer peer4("127.0.0.1");
    Peer peer6("::1");
    const auto sock = makeSocket();
    ASSERT_TRUE(sock->bindToPort(0, "localhost", &error)) << describe(error);
    const uint16_t port = sock->localPort();
    // Both descriptors hold datagrams before receiving starts.
    constexpr size_t kEach = 4;
    for (uint8_t i = 0; i < kEach; ++i) {
        peer4.sendTo(port, Bytes{4, i});
        peer6.sendTo(port, Bytes{6, i});
    }
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    auto seen = received(2 * kEach);
    ASSERT_EQ(seen.size(), 2 * kEach);
    std::vector<int> next(7, 0);
    for (size_t i = 0; i < seen.size(); ++i) {
        const Bytes& data = seen[i].data;
        ASSERT_EQ(data.size(), 2u);
        EXPECT_EQ(data[0] == 6, UdpSocket::isIPv6Address(seen[i].address));
        EXPECT_EQ(data[1], next[data[0]]++);  // each family in its order
        if (i > 0) {
            EXPECT_NE(data[0], seen[i - 1].data[0]) << "datagram " << i;
        }
    }

    // Longer than the limit: cut to it. At the limit, and empty: whole.
    Bytes longDatagram(12000);
    for (size_t i = 0; i < longDatagram.size(); ++i) {
        longDatagram[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes expected(longDatagram.begin(), longDatagram.begin() + 9216);
    peer4.sendTo(port, longDatagram);
    received(2 * kEach + 1);
    peer6.sendTo(port, expected);
    received(2 * kEach + 2);
    peer4.sendTo(port, {});
    seen = received(2 * kEach + 3);
    ASSERT_EQ(seen.size(), 2 * kEach + 3);
    uint16_t sourcePort4 = 0, sourcePort6 = 0;
    EXPECT_EQ(seen[2 * kEach].data, expected);
    ASSERT_TRUE(UdpSocket::getHost(nullptr, &sourcePort4, seen[2 * kEach].address));
    EXPECT_EQ(sourcePort4, peer4.port());
    EXPECT_EQ(seen[2 * kEach + 1].data, expected);
    ASSERT_TRUE(UdpSocket::getHost(nullptr, &sourcePort6, seen[2 * kEach + 1].address));
    EXPECT_EQ(sourcePort6, peer6.port());
    EXPECT_TRUE(seen.back().data.empty());
}

TEST_F(UdpSocketTest, AReadFailureClosesWithAPosixErrorAndTheSocketCanBeBoundAgain) {
    uint16_t closedPort = 0;  // bound, then released
    {
        Peer gone("127.0.0.1");
        closedPort = gone.port();
    }
    const auto sock = makeSocket();
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    // With IP_RECVERR the refusal of the datagram below makes the next read fail.
    sock->performBlock([&] {
        const int on = 1;
        ASSERT_EQ(::setsockopt(sock->socket4FD(), IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    });
    sock->sendData(bytesOf("anyone?"), "127.0.0.1", closedPort, -1, 1);
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(
        lines(),
        (std::vector<std::string>{
            "sent 1", "closed: " + posixFailure(ECONNREFUSED, "Error in recvfrom() function")}));
    EXPECT_EQ(sock->localPort(), 0);
    sock->performBlock([&] { EXPECT_EQ(sock->socketFD(), -1); });
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    EXPECT_NE(sock->localPort(), 0);
}

TEST_F(UdpSocketTest, DroppingTheLastReferenceAnywhereLeavesNoThreadOrDescriptor) {
    Peer peer("127.0.0.1");
    // The resolver's shared threads start with their first work and stay for the process.
    std::atomic<bool> resolverReady{false};
    dispatch::runConcurrently([&] { resolverReady = true; });
    ASSERT_TRUE(waitUntil([&] { return resolverReady.load(); }));
    const auto before = test::ProcessResources::now();

    // On the delegate queue, from inside a callback.
    SocketRef held = makeSocket();
    SocketRef released;  // delegate queue only
    recorder->onEvent = [&](const SocketRef&, const Event& event) {
        if (event.kind == Event::Kind::received) {
            released = std::move(held);
            released.reset();
        }
    };
    ASSERT_TRUE(held->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(held->beginReceiving(&error)) << describe(error);
    const uint16_t port = held->localPort();
    held->sendData(bytesOf("pending"), "localhost", peer.port(), 5, 1);
    peer.sendTo(port, bytesOf("x"));
    peer.sendTo(port, bytesOf("y"));
    received(1);
    delegateQueue->sync([] {});
    EXPECT_FALSE(held);

    // On the socket queue, from inside performBlock.
    auto onQueue = makeSocket();
    ASSERT_TRUE(onQueue->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(onQueue->beginReceiving(&error)) << describe(error);
    UdpSocket* raw = onQueue.get();
    raw->performBlock([&] { onQueue.reset(); });

    // On the caller's thread while a name is being resolved and a datagram waits.
    auto busy = makeSocket();
    ASSERT_TRUE(busy->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(busy->beginReceiving(&error)) << describe(error);
    busy->sendData(bytesOf("late"), "localhost", peer.port(), 5, 2);
    busy.reset();

    // The last of them may go on a thread that then finishes tearing down.
    EXPECT_TRUE(waitUntil([&] { return test::ProcessResources::now() == before; }));
    // Destruction is silent: at most the "pending" send and the first datagram were reported.
    for (const Event& event : recorder->events()) {
        EXPECT_NE(event.kind, Event::Kind::closed);
    }
}

}  // namespace
}  // namespace vistamo
