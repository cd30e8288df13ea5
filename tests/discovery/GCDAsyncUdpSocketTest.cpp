#include "discovery/GCDAsyncUdpSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/MainQueue.h"
#include "dispatch/SerialQueue.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::waitUntil;

struct Event {
    enum class Kind { sent, notSent, received, closed };
    Kind kind;
    int64_t tag = 0;
    std::optional<Error> error;
    Bytes data;
    Bytes address;
};

// Records every delegate call; fails the test when one arrives off the delegate queue.
class Recorder : public GCDAsyncUdpSocketDelegate {
public:
    explicit Recorder(std::shared_ptr<dispatch::SerialQueue> queue) : queue_(std::move(queue)) {}

    // Runs on the delegate queue for each call, before it is recorded. Set before any socket
    // exists.
    std::function<void(const std::shared_ptr<GCDAsyncUdpSocket>&, const Event&)> onEvent;

    void udpSocketDidSendDataWithTag(const std::shared_ptr<GCDAsyncUdpSocket>& sock,
                                     int64_t tag) override {
        record(sock, Event{Event::Kind::sent, tag, {}, {}, {}});
    }
    void udpSocketDidNotSendDataWithTag(const std::shared_ptr<GCDAsyncUdpSocket>& sock, int64_t tag,
                                        const Error& error) override {
        record(sock, Event{Event::Kind::notSent, tag, error, {}, {}});
    }
    void udpSocketDidReceiveData(const std::shared_ptr<GCDAsyncUdpSocket>& sock, Bytes data,
                                 Bytes address, const std::shared_ptr<void>&) override {
        record(sock, Event{Event::Kind::received, 0, {}, std::move(data), std::move(address)});
    }
    void udpSocketDidCloseWithError(const std::shared_ptr<GCDAsyncUdpSocket>& sock,
                                    const std::optional<Error>& error) override {
        record(sock, Event{Event::Kind::closed, 0, error, {}, {}});
    }

    std::vector<Event> events() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    bool waitForEvents(size_t count) const {
        return waitUntil([&] { return events().size() >= count; });
    }

private:
    // The hook runs first, so that a test that has seen an event knows that its hook is done.
    void record(const std::shared_ptr<GCDAsyncUdpSocket>& sock, Event event) {
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

// A plain datagram socket on the loopback address of one family, driven by the test. The port
// of a sockaddr_in and of a sockaddr_in6 sit at the same place, which the helpers below rely on.
class Peer {
public:
    explicit Peer(int family) : fd_(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        address_.ss_family = static_cast<sa_family_t>(family);
        if (family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(address_).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        } else {
            reinterpret_cast<sockaddr_in6&>(address_).sin6_addr = in6addr_loopback;
        }
        length_ = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address_), length_), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length_);
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    uint16_t port() const { return portOf(address_); }

    void sendTo(uint16_t port, ByteView bytes) {
        sockaddr_storage to = address_;
        reinterpret_cast<sockaddr_in&>(to).sin_port = htons(port);
        EXPECT_EQ(
            ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), length_),
            static_cast<ssize_t>(bytes.size()));
    }

    // The next datagram; none when nothing comes within a generous bound.
    std::optional<Bytes> receive() {
        pollfd entry{fd_, POLLIN, 0};
        Bytes data(65536);
        const ssize_t n =
            ::poll(&entry, 1, 10000) == 1 ? ::recv(fd_, data.data(), data.size(), 0) : -1;
        if (n < 0) {
            return std::nullopt;
        }
        data.resize(static_cast<size_t>(n));
        return data;
    }

private:
    static uint16_t portOf(const sockaddr_storage& address) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }

    int fd_;
    sockaddr_storage address_{};
    socklen_t length_ = 0;
};

size_t entriesIn(const char* folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// "domain code: description", and ", reason" when there is one.
std::string describe(const Error& error) {
    return error.domain + " " + std::to_string(error.code) + ": " + error.description +
           (error.reason.empty() ? "" : ", " + error.reason);
}

// One event as a line: "sent 3", "not sent 1: <error>", "closed", "closed: <error>".
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

class GCDAsyncUdpSocketTest : public ::testing::Test {
protected:
    std::shared_ptr<GCDAsyncUdpSocket> makeSocket() {
        return GCDAsyncUdpSocket::create(recorder, delegateQueue);
    }

    // Every event so far, described, once the delegate queue has delivered what it holds.
    std::vector<std::string> lines() const {
        delegateQueue->sync([] {});
        std::vector<std::string> described;
        for (const Event& event : recorder->events()) {
            described.push_back(describe(event));
        }
        return described;
    }

    // Events of one kind, in the order they arrived.
    std::vector<Event> eventsOf(Event::Kind kind) const {
        std::vector<Event> found;
        for (const Event& event : recorder->events()) {
            if (event.kind == kind) {
                found.push_back(event);
            }
        }
        return found;
    }

    const std::shared_ptr<dispatch::SerialQueue> delegateQueue =
        dispatch::SerialQueue::create("udp delegate");
    const std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(delegateQueue);
};

// The description of a failed operation's error.
std::string failure(bool succeeded, const Error& error) {
    return succeeded ? "succeeded" : describe(error);
}

const std::string kDomain = kGCDAsyncUdpSocketErrorDomain;

TEST_F(GCDAsyncUdpSocketTest, BindsOnceAndRefusesWhatItCannotCarryOut) {
    Error error;
    const auto noDelegate =
        GCDAsyncUdpSocket::create(std::weak_ptr<GCDAsyncUdpSocketDelegate>(), delegateQueue);
    EXPECT_EQ(failure(noDelegate->bindToPort(0, "127.0.0.1", &error), error),
              kDomain + " 1: Attempting to use socket without a delegate. Set a delegate first.");
    const auto noQueue = GCDAsyncUdpSocket::create(recorder, nullptr);
    EXPECT_EQ(failure(noQueue->bindToPort(0, "127.0.0.1", &error), error),
              kDomain +
                  " 1: Attempting to use socket without a delegate queue. Set a delegate "
                  "queue first.");

    const auto sock = makeSocket();
    EXPECT_EQ(sock->localPort(), 0);
    EXPECT_EQ(failure(sock->beginReceiving(&error), error),
              kDomain +
                  " 1: Must bind socket before you can receive data. You can do this "
                  "explicitly via bind, or implicitly via connect or by sending data.");
    EXPECT_EQ(failure(sock->joinMulticastGroup("239.255.0.8", "lo", &error), error),
              kDomain + " 1: Must bind a socket before joining a multicast group.");
    const std::string unknownInterface =
        kDomain +
        " 2: Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
        "address.";
    EXPECT_EQ(failure(sock->bindToPort(0, "no-such-if9", &error), error), unknownInterface);
    sock->setIPv4Enabled(false);
    EXPECT_EQ(failure(sock->bindToPort(0, "127.0.0.1", &error), error),
              kDomain + " 2: IPv4 has been disabled and specified interface doesn't support IPv6.");
    sock->setIPv6Enabled(false);
    EXPECT_EQ(failure(sock->bindToPort(0, "127.0.0.1", &error), error),
              kDomain +
                  " 1: Both IPv4 and IPv6 have been disabled. Must enable at least one "
                  "protocol first.");
    sock->setIPv4Enabled(true);
    EXPECT_EQ(failure(sock->bindToPort(0, "::1", &error), error),
              kDomain + " 2: IPv6 has been disabled and specified interface doesn't support IPv4.");
    sock->close();  // never opened: nothing to report

    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    EXPECT_NE(sock->localPort(), 0);
    EXPECT_EQ(sock->socketFD(), -1);  // off the socket queue
    sock->performBlock([&] {
        EXPECT_EQ(sock->socket6FD(), -1);  // the interface has no IPv6 address
        EXPECT_EQ(sock->socketFD(), sock->socket4FD());
    });
    EXPECT_EQ(failure(sock->bindToPort(0, &error), error),
              kDomain + " 1: Cannot bind a socket more than once.");
    EXPECT_EQ(failure(sock->joinMulticastGroup("not-a-group", "lo", &error), error),
              kDomain + " 2: Unknown group. Specify valid group IP address.");
    EXPECT_EQ(failure(sock->joinMulticastGroup("239.255.0.8", "no-such-if9", &error), error),
              unknownInterface);
    // Only an IPv4 descriptor is open: an IPv6 group cannot be joined.
    EXPECT_EQ(failure(sock->joinMulticastGroup("ff15::0001", "lo", &error), error),
              kDomain + " 2: Socket, group, and interface do not have matching IP versions");
    sock->close();
    sock->close();
    EXPECT_EQ(sock->localPort(), 0);
    // One orderly close, of the last bind: the failed ones left nothing open.
    EXPECT_EQ(lines(), std::vector<std::string>{"closed"});
}

TEST_F(GCDAsyncUdpSocketTest, SendsLeaveOneAtATimeInOrderEachReportedOnceWithItsTag) {
    Peer peer(AF_INET);
    const auto sock = makeSocket();
    // The delegate may call into the socket from its callbacks.
    std::vector<uint16_t> portsSeen;  // delegate queue only
    recorder->onEvent = [&](const std::shared_ptr<GCDAsyncUdpSocket>& socket, const Event&) {
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
        EXPECT_EQ(peer.receive(), Bytes{static_cast<uint8_t>(i)});
    }
    ASSERT_TRUE(recorder->waitForEvents(kCount));
    EXPECT_EQ(lines(), expected);

    // Sending bound the socket: it can receive an answer on that port.
    const uint16_t port = sock->localPort();
    EXPECT_EQ(portsSeen.back(), port);
    Error error;
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    peer.sendTo(port, bytesOf("answer"));
    ASSERT_TRUE(recorder->waitForEvents(kCount + 1));
    EXPECT_EQ(recorder->events().back().data, bytesOf("answer"));
}

TEST_F(GCDAsyncUdpSocketTest, DatagramsWithoutAUsableDestinationAreReportedAndTheQueueGoesOn) {
    Peer peer6(AF_INET6);
    const auto sock = makeSocket();
    Error error;
    ASSERT_TRUE(sock->bindToPort(0, "::1", &error)) << describe(error);
    sock->sendData(bytesOf("a"), "", peer6.port(), -1, 1);
    sock->sendData(bytesOf("b"), "127.0.0.1", peer6.port(), -1, 2);
    sock->sendData(bytesOf("c"), "::1", peer6.port(), -1, 3);
    ASSERT_TRUE(recorder->waitForEvents(3));
    EXPECT_EQ(peer6.receive(), bytesOf("c"));
    const auto disabled = makeSocket();
    disabled->setIPv6Enabled(false);
    disabled->sendData(bytesOf("d"), "::1", peer6.port(), -1, 4);
    ASSERT_TRUE(recorder->waitForEvents(4));
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "not sent 1: " + kDomain +
                               " 2: The host param is nil. Should be domain name or IP address "
                               "string.",
                           "not sent 2: " + kDomain +
                               " 5: IPv4 has been deactivated due to bind/connect, and DNS "
                               "lookup found no IPv6 address(es).",
                           "sent 3",
                           "not sent 4: " + kDomain +
                               " 5: IPv6 has been disabled and DNS lookup found no IPv4 "
                               "address(es).",
                       }));
}

TEST_F(GCDAsyncUdpSocketTest, ReceivesAlternatelyCutsLongDatagramsAndSendsByPreference) {
    Peer peer4(AF_INET);
    Peer peer6(AF_INET6);
    const auto sock = makeSocket();
    Error error;
    ASSERT_TRUE(sock->bindToPort(0, "localhost", &error)) << describe(error);
    const uint16_t port = sock->localPort();
    // Both descriptors hold datagrams before receiving starts.
    constexpr int kEach = 4;
    for (int i = 0; i < kEach; ++i) {
        peer4.sendTo(port, Bytes{4, static_cast<uint8_t>(i)});
        peer6.sendTo(port, Bytes{6, static_cast<uint8_t>(i)});
    }
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach; }));
    auto received = eventsOf(Event::Kind::received);
    std::vector<int> next(7, 0);
    for (size_t i = 0; i < received.size(); ++i) {
        const Bytes& data = received[i].data;
        ASSERT_EQ(data.size(), 2u);
        EXPECT_EQ(data[0] == 6, GCDAsyncUdpSocket::isIPv6Address(received[i].address));
        EXPECT_EQ(data[1], next[data[0]]++);  // each family in its order
        if (i > 0) {
            EXPECT_NE(data[0], received[i - 1].data[0]) << "datagram " << i;
        }
    }

    // Longer than the limit: cut to it. At the limit, and empty: whole.
    Bytes longDatagram(12000);
    for (size_t i = 0; i < longDatagram.size(); ++i) {
        longDatagram[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes expected(longDatagram.begin(), longDatagram.begin() + 9216);
    peer4.sendTo(port, longDatagram);
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach + 1; }));
    peer6.sendTo(port, expected);
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach + 2; }));
    peer4.sendTo(port, {});
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach + 3; }));
    received = eventsOf(Event::Kind::received);
    uint16_t sourcePort4 = 0;
    uint16_t sourcePort6 = 0;
    EXPECT_EQ(received[2 * kEach].data, expected);
    ASSERT_TRUE(GCDAsyncUdpSocket::getHost(nullptr, &sourcePort4, received[2 * kEach].address));
    EXPECT_EQ(sourcePort4, peer4.port());
    EXPECT_EQ(received[2 * kEach + 1].data, expected);
    ASSERT_TRUE(GCDAsyncUdpSocket::getHost(nullptr, &sourcePort6, received[2 * kEach + 1].address));
    EXPECT_EQ(sourcePort6, peer6.port());
    EXPECT_TRUE(received.back().data.empty());

    // To a host with both families: IPv4, unless IPv6 is preferred.
    sock->sendData(bytesOf("first"), "localhost", port, -1, 1);
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach + 4; }));
    sock->setPreferIPv6();
    sock->sendData(bytesOf("second"), "localhost", port, -1, 2);
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() == 2 * kEach + 5; }));
    received = eventsOf(Event::Kind::received);
    std::string host4, host6;
    ASSERT_TRUE(GCDAsyncUdpSocket::getHost(&host4, nullptr, received[2 * kEach + 3].address));
    ASSERT_TRUE(GCDAsyncUdpSocket::getHost(&host6, &sourcePort6, received[2 * kEach + 4].address));
    EXPECT_EQ(host4 + " " + host6 + " " + std::to_string(sourcePort6),
              "127.0.0.1 ::1 " + std::to_string(port));
    EXPECT_EQ(received[2 * kEach + 4].data, bytesOf("second"));
}

TEST_F(GCDAsyncUdpSocketTest, AReadFailureClosesWithAPosixErrorAndTheSocketCanBeBoundAgain) {
    uint16_t closedPort = 0;  // bound, then released
    {
        Peer gone(AF_INET);
        closedPort = gone.port();
    }
    const auto sock = makeSocket();
    Error error;
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(sock->beginReceiving(&error)) << describe(error);
    // With IP_RECVERR the refusal of the datagram below makes the next read fail.
    sock->performBlock([&] {
        const int on = 1;
        ASSERT_EQ(::setsockopt(sock->socket4FD(), IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    });
    sock->sendData(bytesOf("anyone?"), "127.0.0.1", closedPort, -1, 1);
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"sent 1", "closed: " + std::string(kPosixErrorDomain) +
                                                      " " + std::to_string(ECONNREFUSED) + ": " +
                                                      std::strerror(ECONNREFUSED) +
                                                      ", Error in recvfrom() function"}));
    EXPECT_EQ(sock->localPort(), 0);
    sock->performBlock([&] { EXPECT_EQ(sock->socketFD(), -1); });

    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    EXPECT_NE(sock->localPort(), 0);
}

TEST_F(GCDAsyncUdpSocketTest, ASendFailureClosesAndDropsEveryQueuedDatagramSilently) {
    Peer peer(AF_INET);
    const auto sock = makeSocket();
    Error error;
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    // Queued together, so that all three wait when the first fails.
    sock->performBlock([&] {
        sock->sendData(Bytes(70000, 1), "127.0.0.1", peer.port(), -1, 1);  // beyond any datagram
        sock->sendData(bytesOf("two"), "127.0.0.1", peer.port(), -1, 2);
        sock->sendData(bytesOf("three"), "127.0.0.1", peer.port(), -1, 3);
    });
    ASSERT_TRUE(recorder->waitForEvents(1));
    EXPECT_EQ(sock->localPort(), 0);
    // A datagram after the close opens the socket again and is the first to arrive.
    sock->sendData(bytesOf("four"), "127.0.0.1", peer.port(), -1, 4);
    EXPECT_EQ(peer.receive(), bytesOf("four"));
    ASSERT_TRUE(recorder->waitForEvents(2));
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"closed: " + std::string(kPosixErrorDomain) + " " +
                                            std::to_string(EMSGSIZE) + ": " +
                                            std::strerror(EMSGSIZE) + ", Error in send() function.",
                                        "sent 4"}));
}

TEST_F(GCDAsyncUdpSocketTest, MulticastJoinedOnLoopbackIsSentAndReceivedThere) {
    // Wildcard binds, as the scanner's; the group's traffic stays on the loopback interface.
    const auto sender = makeSocket();
    const auto listener = makeSocket();
    Error error;
    ASSERT_TRUE(sender->bindToPort(0, &error)) << describe(error);
    const uint16_t port = sender->localPort();
    // The two share the port, as the scanner and a camera on one machine do.
    ASSERT_TRUE(listener->bindToPort(port, &error)) << describe(error);
    ASSERT_TRUE(sender->joinMulticastGroup("239.255.0.8", "lo", &error)) << describe(error);
    ASSERT_TRUE(listener->joinMulticastGroup("239.255.0.8", "127.0.0.1", &error))
        << describe(error);
    sender->performBlock([&] {
        EXPECT_GE(sender->socket4FD(), 0);
        EXPECT_EQ(sender->socket6FD(), -1);
    });
    ASSERT_TRUE(sender->beginReceiving(&error)) << describe(error);
    ASSERT_TRUE(listener->beginReceiving(&error)) << describe(error);
    // Without the interface chosen for sending, the datagram would leave by the default route
    // and not come back here.
    sender->sendData(bytesOf("scan"), "239.255.0.8", port, -1, 7);
    ASSERT_TRUE(recorder->waitForEvents(3));
    auto seen = lines();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"received 4", "received 4", "sent 7"}));

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

TEST_F(GCDAsyncUdpSocketTest, DroppingTheLastReferenceAnywhereLeavesNoThreadOrDescriptor) {
    Peer peer(AF_INET);
    // The resolver's shared threads start with their first work and stay for the process.
    std::atomic<bool> resolverReady{false};
    dispatch::runConcurrently([&] { resolverReady = true; });
    ASSERT_TRUE(waitUntil([&] { return resolverReady.load(); }));
    const size_t threads = entriesIn("/proc/self/task");
    const size_t descriptors = entriesIn("/proc/self/fd");

    // On the delegate queue, from inside a callback.
    std::shared_ptr<GCDAsyncUdpSocket> held = makeSocket();
    std::shared_ptr<GCDAsyncUdpSocket> released;  // delegate queue only
    recorder->onEvent = [&](const std::shared_ptr<GCDAsyncUdpSocket>&, const Event& event) {
        if (event.kind == Event::Kind::received) {
            released = std::move(held);
            released.reset();
        }
    };
    Error error;
    ASSERT_TRUE(held->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(held->beginReceiving(&error)) << describe(error);
    const uint16_t port = held->localPort();
    held->sendData(bytesOf("pending"), "localhost", peer.port(), 5, 1);
    peer.sendTo(port, bytesOf("x"));
    peer.sendTo(port, bytesOf("y"));
    ASSERT_TRUE(waitUntil([&] { return eventsOf(Event::Kind::received).size() >= 1; }));
    delegateQueue->sync([] {});
    EXPECT_FALSE(held);

    // On the socket queue, from inside performBlock.
    auto onQueue = makeSocket();
    ASSERT_TRUE(onQueue->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(onQueue->beginReceiving(&error)) << describe(error);
    GCDAsyncUdpSocket* raw = onQueue.get();
    raw->performBlock([&] { onQueue.reset(); });

    // On the caller's thread while a name is being resolved and a datagram waits.
    auto busy = makeSocket();
    ASSERT_TRUE(busy->bindToPort(0, "127.0.0.1", &error)) << describe(error);
    ASSERT_TRUE(busy->beginReceiving(&error)) << describe(error);
    busy->sendData(bytesOf("late"), "localhost", peer.port(), 5, 2);
    busy.reset();

    // The last of them may go on a thread that then finishes tearing down.
    EXPECT_TRUE(waitUntil([&] {
        return entriesIn("/proc/self/task") == threads && entriesIn("/proc/self/fd") == descriptors;
    }));
    // Destruction is silent: at most the "pending" send and the first datagram were reported.
    for (const Event& event : recorder->events()) {
        EXPECT_NE(event.kind, Event::Kind::closed);
    }
}

TEST(GCDAsyncUdpSocketAddress, HostAndPortComeOnlyFromWholeInternetAddresses) {
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(7341);
    address6.sin6_scope_id = 2;
    ::inet_pton(AF_INET6, "fe80::1", &address6.sin6_addr);
    const ByteView whole6(reinterpret_cast<const uint8_t*>(&address6), sizeof address6);
    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(GCDAsyncUdpSocket::getHost(&host, &port, whole6));
    EXPECT_EQ(host + " " + std::to_string(port), "fe80::1 7341");  // no scope

    // Cut short, empty, or of another family: nothing, and the outputs stay as they were.
    sockaddr_storage other{};
    other.ss_family = AF_INET;
    const ByteView short4(reinterpret_cast<const uint8_t*>(&other), sizeof(sockaddr_in) - 1);
    for (const ByteView bad : {short4, whole6.first(sizeof address6 - 1), ByteView()}) {
        EXPECT_FALSE(GCDAsyncUdpSocket::getHost(&host, &port, bad));
        EXPECT_FALSE(GCDAsyncUdpSocket::isIPv6Address(bad));
    }
    other.ss_family = AF_UNIX;
    EXPECT_FALSE(GCDAsyncUdpSocket::getHost(
        &host, &port, ByteView(reinterpret_cast<const uint8_t*>(&other), sizeof other)));
    EXPECT_EQ(host + " " + std::to_string(port), "fe80::1 7341");
}

}  // namespace
}  // namespace vistamo
