// The scanner on real sockets: against the test camera and a hand-driven stand-in across two
// network namespaces, and against the test camera on this machine's loopback interface, where
// both share UDP port 10221.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/DiscoveryDoubles.h"
#include "discovery/ZUDPScanner.h"
#include "support/CameraProcess.h"
#include "support/NetNamespace.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::buttonOf;
using test::onMain;
using test::waitUntil;

const std::string kScannerIdentity = "5ca22e2000000000000000000000face";

sockaddr_in addressOf(const std::string& host, uint16_t port) {
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

// A plain IPv4 datagram socket. Given an address to bind port 10221 on, it also joins the
// discovery group on `groupInterface`: bound to the wildcard address it stands in for a camera
// alone in its host, bound to the group's address it listens beside a scanner. Made inside the
// namespace of the host it works in.
class PlainSocket {
public:
    struct Datagram {
        Bytes data;
        std::string from;  // "ADDR:PORT"
    };

    explicit PlainSocket(const std::string& bindAddress = {},
                         const std::string& groupInterface = {})
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        if (bindAddress.empty()) {
            return;
        }
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
        const sockaddr_in address = addressOf(bindAddress, kDiscoveryPort);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ip_mreqn request{};
        ::inet_pton(AF_INET, kDiscoveryGroupIPv4, &request.imr_multiaddr);
        ::inet_pton(AF_INET, groupInterface.c_str(), &request.imr_address);
        EXPECT_EQ(::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request), 0);
    }
    ~PlainSocket() { ::close(fd_); }

    void send(ByteView bytes, const std::string& host, uint16_t port = kDiscoveryPort) {
        const sockaddr_in address = addressOf(host, port);
        EXPECT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The next datagram; none when nothing comes within a generous bound.
    std::optional<Datagram> receive() {
        pollfd entry{fd_, POLLIN, 0};
        Bytes data(9216);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::poll(&entry, 1, 10000) != 1
                                ? -1
                                : ::recvfrom(fd_, data.data(), data.size(), 0,
                                             reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            return std::nullopt;
        }
        data.resize(static_cast<size_t>(got));
        char host[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, host, sizeof host);
        return Datagram{data, std::string(host) + ":" + std::to_string(ntohs(from.sin_port))};
    }

private:
    int fd_;
};

class ZUDPScannerNetworkTest : public ::testing::Test {
protected:
    static ZUDPScanner::Options options() {
        ZUDPScanner::Options options;
        options.scanPeriodSeconds = 0;  // the test ticks
        options.deviceIdentity = [] { return kScannerIdentity; };
        return options;
    }

    // The scanner in test host 1 (10.213.0.2), on the addresses it finds there.
    std::shared_ptr<ZUDPScanner> scannerIn(test::NetNamespace& net) {
        std::shared_ptr<ZUDPScanner> made;
        EXPECT_TRUE(net.run(1, [&] { made = ZUDPScanner::init(options()); }));
        attach(made);
        return made;
    }

    void attach(const std::shared_ptr<ZUDPScanner>& scanner) {
        onMain([&] {
            scanner->setMScanner(host);
            scanner->setNetStatus(1);
        });
    }

    static std::vector<std::shared_ptr<ZDeviceInfo>> list(
        const std::shared_ptr<ZUDPScanner>& scanner) {
        return onMain([&] { return scanner->mDeviceList(); });
    }
    static std::shared_ptr<ZDeviceInfo> find(const std::shared_ptr<ZUDPScanner>& scanner,
                                             const std::string& uuid) {
        for (const auto& record : list(scanner)) {
            if (record->mUUID() == uuid) {
                return record;
            }
        }
        return nullptr;
    }
    static void tick(const std::shared_ptr<ZUDPScanner>& scanner) {
        onMain([&] { scanner->scanServers(); });
    }
    // "address port name" of the record for `uuid`.
    static std::string shown(const std::shared_ptr<ZUDPScanner>& scanner, const std::string& uuid) {
        const auto record = find(scanner, uuid);
        return record ? record->mDeviceIP().value_or("?") + " " + std::to_string(record->mPort()) +
                            " " + record->mDeviceName().value_or("?")
                      : "none";
    }

    std::shared_ptr<test::RecordingHost> host = std::make_shared<test::RecordingHost>();
};

TEST_F(ZUDPScannerNetworkTest, CamerasInTheOtherHostAreFoundOnTheFirstTickAndLeaveWithButtons) {
    test::NetNamespace net;
    if (!net.available()) {
        GTEST_SKIP() << net.unavailableReason();
    }
    const std::vector<std::string> inHost0{"ip", "netns", "exec", net.host(0).namespaceName};
    test::CameraProcess porch(
        {"--port", "0", "--discovery", "--uuid", "porch-uuid", "--name", "Porch"}, inHost0);
    test::CameraProcess garage({"--port", "0", "--discovery", "--answer-kind", "response", "--uuid",
                                "garage-uuid", "--name", "Garage"},
                               inHost0);
    ASSERT_TRUE(porch.waitForLine("discovery announce"));
    ASSERT_TRUE(garage.waitForLine("discovery announce"));

    const auto scanner = scannerIn(net);
    EXPECT_EQ(scanner->mLocalIP(), "10.213.0.2");
    EXPECT_EQ(scanner->ipType(), 0);
    EXPECT_TRUE(scanner->bUDPReady());
    onMain([&] { scanner->startScan(); });
    ASSERT_TRUE(waitUntil([&] { return list(scanner).size() == 2; }));

    EXPECT_EQ(shown(scanner, "porch-uuid"),
              "10.213.0.1 " + std::to_string(porch.port()) + " Porch");
    // The response came from the camera's TCP port; its port bytes are zero.
    EXPECT_EQ(shown(scanner, "garage-uuid"),
              "10.213.0.1 " + std::to_string(garage.port()) + " Garage");
    const auto porchRecord = find(scanner, "porch-uuid");
    const auto garageRecord = find(scanner, "garage-uuid");
    EXPECT_TRUE(porch.waitForLine("discovery request from 10.213.0.2:10221"));
    EXPECT_TRUE(porch.waitForLine("discovery answer iamin to 10.213.0.2:10221"));
    EXPECT_TRUE(garage.waitForLine("discovery answer response to 10.213.0.2:10221"));

    // The camera found first leaves; the other's button moves to its place in the list.
    ASSERT_TRUE(porchRecord && garageRecord);
    const bool porchFirst = list(scanner)[0] == porchRecord;
    test::CameraProcess& leaving = porchFirst ? porch : garage;
    const auto& staying = porchFirst ? garageRecord : porchRecord;
    const auto leavingButton = onMain([&] { return buttonOf(list(scanner)[0]); });
    EXPECT_EQ(leaving.stop(), 0);
    const auto said = leaving.lines();
    EXPECT_NE(std::find(said.begin(), said.end(), "discovery leave"), said.end());
    ASSERT_TRUE(waitUntil([&] { return list(scanner).size() == 1; }));
    EXPECT_EQ(list(scanner)[0], staying);
    onMain([&] {
        EXPECT_TRUE(leavingButton->removed);
        EXPECT_EQ(buttonOf(staying)->tag(), 0);
    });
}

TEST_F(ZUDPScannerNetworkTest, RequestsAnswersAndSilenceWithAHandDrivenCamera) {
    test::NetNamespace net;
    if (!net.available()) {
        GTEST_SKIP() << net.unavailableReason();
    }
    std::unique_ptr<PlainSocket> camera;
    std::unique_ptr<PlainSocket> beside;  // in the scanner's own host
    ASSERT_TRUE(
        net.run(0, [&] { camera = std::make_unique<PlainSocket>("0.0.0.0", "10.213.0.1"); }));
    ASSERT_TRUE(net.run(
        1, [&] { beside = std::make_unique<PlainSocket>(kDiscoveryGroupIPv4, "10.213.0.2"); }));
    const auto scanner = scannerIn(net);
    tick(scanner);

    Bytes expected{0x01, 0x21, 0x00, 0x00, '1', '0', '.', '2', '1', '3', '.', '0', '.', '2'};
    const auto request = camera->receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, expected);
    EXPECT_EQ(request->from, "10.213.0.2:10221");
    // The request comes back to the scanner's host too, and so to the scanner.
    EXPECT_EQ(beside->receive().value().data, expected);

    camera->send(makePeerIdentity(PeerCommand::IAmIn, 7341, kScannerIdentity, "Me"), "10.213.0.2");
    camera->send(makePeerIdentity(PeerCommand::IAmIn, 7341, "other", "Other"), "10.213.0.2");
    // Neither the echo nor our own identity counts. Handled in the order they came: once the
    // second is in, the first was dropped.
    ASSERT_TRUE(waitUntil([&] { return !list(scanner).empty(); }));
    const auto records = list(scanner);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->mUUID(), "other");

    // A silent camera is hidden on its third silent tick and shown by its next answer.
    // Each answer carries a new name, so the test sees when the scanner has taken it.
    const auto answer = [&](const std::string& name) {
        camera->send(makePeerIdentity(PeerCommand::IAmIn, 7341, "cam", name), "10.213.0.2");
        return waitUntil([&] {
            const auto record = find(scanner, "cam");
            return record && record->mDeviceName() == name;
        });
    };
    const auto tickHeard = [&] {
        tick(scanner);
        return camera->receive().has_value();
    };
    const auto hidden = [&] {
        return onMain([&] { return buttonOf(find(scanner, "cam"))->isHidden(); });
    };
    ASSERT_TRUE(tickHeard() && answer("first"));
    ASSERT_TRUE(tickHeard() && answer("second"));
    ASSERT_TRUE(tickHeard() && tickHeard());
    EXPECT_FALSE(hidden());
    ASSERT_TRUE(tickHeard());
    EXPECT_TRUE(hidden());
    ASSERT_TRUE(answer("back"));
    EXPECT_FALSE(hidden());

    // A socket that closes is bound, joined and receiving again shortly after.
    scanner->socket()->close();
    ASSERT_TRUE(waitUntil(
        [&] { return scanner->bUDPReady() && scanner->socket()->localPort() == kDiscoveryPort; }));
    tick(scanner);
    const auto again = camera->receive();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->from, "10.213.0.2:10221");
    EXPECT_TRUE(answer("again"));
}

// The demonstration a newcomer runs: the camera and the viewer on one machine. Loopback only,
// so nothing leaves the machine.
TEST_F(ZUDPScannerNetworkTest, TheCameraOnThisMachineIsFoundWhileBothShareTheDiscoveryPort) {
    test::CameraProcess camera({"--port", "0", "--bind", "127.0.0.1", "--discovery", "--uuid",
                                "desk-uuid", "--name", "Desk"});
    ASSERT_TRUE(camera.waitForLine("discovery announce"));
    ZUDPScanner::Options loopback = options();
    loopback.gatherAddresses = [](const std::string&, std::vector<std::string>&,
                                  std::vector<std::string>& ipv4) { ipv4.push_back("127.0.0.1"); };
    const auto scanner = ZUDPScanner::init(loopback);
    ASSERT_TRUE(scanner->bUDPReady())
        << "UDP port 10221 is held on this machine by a socket that does not share it";
    attach(scanner);
    onMain([&] { scanner->startScan(); });

    ASSERT_TRUE(waitUntil([&] { return find(scanner, "desk-uuid") != nullptr; }));
    EXPECT_EQ(shown(scanner, "desk-uuid"), "127.0.0.1 " + std::to_string(camera.port()) + " Desk");
    EXPECT_TRUE(camera.waitForLine("discovery request from 127.0.0.1:10221"));
    EXPECT_TRUE(camera.waitForLine("discovery answer iamin to 127.0.0.1:10221"));

    // Every unicast datagram to the shared port reaches the scanner: the camera's socket there
    // takes only the group's.
    PlainSocket sender;
    constexpr int kAnswers = 32;
    for (int i = 0; i < kAnswers; ++i) {
        sender.send(makePeerIdentity(PeerCommand::IAmIn, 7341, "unicast-" + std::to_string(i), ""),
                    "127.0.0.1");
    }
    const auto heard = [&] {
        int count = 0;
        for (int i = 0; i < kAnswers; ++i) {
            count += find(scanner, "unicast-" + std::to_string(i)) != nullptr ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return heard() == kAnswers; })) << heard();

    EXPECT_EQ(camera.stop(), 0);
    EXPECT_TRUE(waitUntil([&] { return find(scanner, "desk-uuid") == nullptr; }));
}

}  // namespace
}  // namespace vistamo
