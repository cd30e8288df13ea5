// The scanner on real sockets: against the test camera and a hand-driven stand-in across two
// network namespaces, and against the test camera on this machine's loopback interface, where
// both share UDP port 10221.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/CameraFinder.h"
#include "discovery/DiscoveryDoubles.h"
#include "support/CameraProcess.h"
#include "support/NetNamespace.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::onMain;
using test::waitUntil;

const std::string kScannerIdentity = "5ca22e2000000000000000000000face";

// A socket on the discovery port that has joined the discovery group on `groupInterface`: bound
// to the wildcard address it stands in for a camera alone in its host, bound to the group's
// address it listens beside a scanner. Made inside the namespace of the host it works in.
std::unique_ptr<test::DatagramSocket> groupMember(const std::string& bindAddress,
                                                  const std::string& groupInterface) {
    auto made = std::make_unique<test::DatagramSocket>(bindAddress, kDiscoveryPort);
    EXPECT_TRUE(made->joinGroup(kDiscoveryGroupIPv4, groupInterface));
    return made;
}

class CameraFinderNetworkTest : public ::testing::Test, public test::ScannerDriver {
protected:
    static CameraFinder::Options options() {
        CameraFinder::Options options;
        options.scanPeriodSeconds = 0;  // the test ticks
        options.deviceIdentity = [] { return kScannerIdentity; };
        return options;
    }

    // The scanner in test host 1 (10.213.0.2), on the addresses it finds there.
    void scannerIn(test::NetNamespace& net) {
        std::shared_ptr<CameraFinder> made;
        EXPECT_TRUE(net.run(1, [&] { made = CameraFinder::init(options()); }));
        attach(made);
    }
};

TEST_F(CameraFinderNetworkTest, CamerasInTheOtherHostAreFoundOnTheFirstTickAndLeave) {
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

    scannerIn(net);
    EXPECT_EQ(scanner->localAddress(), "10.213.0.2");
    EXPECT_EQ(scanner->ipType(), 0);
    EXPECT_TRUE(scanner->bUDPReady());
    onMain([&] { scanner->startScan(); });
    ASSERT_TRUE(waitUntil([&] { return list().size() == 2; }));

    EXPECT_EQ(shown("porch-uuid"), "10.213.0.1 " + std::to_string(porch.port()) + " Porch");
    // The response came from the camera's TCP port; its port bytes are zero.
    EXPECT_EQ(shown("garage-uuid"), "10.213.0.1 " + std::to_string(garage.port()) + " Garage");
    const auto porchRecord = find("porch-uuid");
    const auto garageRecord = find("garage-uuid");
    EXPECT_TRUE(porch.waitForLine("discovery request from 10.213.0.2:10221"));
    EXPECT_TRUE(porch.waitForLine("discovery answer iamin to 10.213.0.2:10221"));
    EXPECT_TRUE(garage.waitForLine("discovery answer response to 10.213.0.2:10221"));

    // The camera found first leaves; the other stays.
    ASSERT_TRUE(porchRecord && garageRecord);
    const bool porchFirst = list()[0] == porchRecord;
    test::CameraProcess& leaving = porchFirst ? porch : garage;
    const auto& staying = porchFirst ? garageRecord : porchRecord;
    EXPECT_EQ(leaving.stop(), 0);
    const auto said = leaving.lines();
    EXPECT_NE(std::find(said.begin(), said.end(), "discovery leave"), said.end());
    ASSERT_TRUE(waitUntil([&] { return list().size() == 1; }));
    EXPECT_EQ(list()[0], staying);
    EXPECT_EQ(onMain([&] { return host->lastAbout(porchFirst ? "porch-uuid" : "garage-uuid"); }),
              "removed");
}

TEST_F(CameraFinderNetworkTest, RequestsAnswersAndSilenceWithAHandDrivenCamera) {
    test::NetNamespace net;
    if (!net.available()) {
        GTEST_SKIP() << net.unavailableReason();
    }
    std::unique_ptr<test::DatagramSocket> camera;
    std::unique_ptr<test::DatagramSocket> beside;  // in the scanner's own host
    ASSERT_TRUE(net.run(0, [&] { camera = groupMember("0.0.0.0", "10.213.0.1"); }));
    ASSERT_TRUE(net.run(1, [&] { beside = groupMember(kDiscoveryGroupIPv4, "10.213.0.2"); }));
    scannerIn(net);
    tick();

    Bytes expected{0x01, 0x21, 0x00, 0x00, '1', '0', '.', '2', '1', '3', '.', '0', '.', '2'};
    const auto request = camera->receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->data, expected);
    EXPECT_EQ(request->from, "10.213.0.2:10221");
    // The request comes back to the scanner's host too, and so to the scanner.
    EXPECT_EQ(beside->receive().value().data, expected);

    const auto answerFrom = [&](const std::string& uuid, const std::string& name) {
        camera->send(makePeerIdentity(PeerCommand::IAmIn, 7341, uuid, name), "10.213.0.2",
                     kDiscoveryPort);
    };
    answerFrom(kScannerIdentity, "Me");
    answerFrom("other", "Other");
    // Neither the echo nor our own identity counts. Handled in the order they came: once the
    // second is in, the first was dropped.
    ASSERT_TRUE(waitUntil([&] { return !list().empty(); }));
    const auto records = list();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->uuid(), "other");

    // A silent camera is gone on its third silent tick and back with its next answer.
    // Each answer carries a new name, so the test sees when the scanner has taken it.
    const auto answer = [&](const std::string& name) {
        answerFrom("cam", name);
        return waitUntil([&] {
            const auto record = find("cam");
            return record && record->name() == name;
        });
    };
    const auto tickHeard = [&] {
        tick();
        return camera->receive().has_value();
    };
    const auto hidden = [&] { return onMain([&] { return host->lastAbout("cam") == "gone"; }); };
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
    tick();
    const auto again = camera->receive();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->from, "10.213.0.2:10221");
    EXPECT_TRUE(answer("again"));
}

// The demonstration a newcomer runs: the camera and the viewer on one machine. Loopback only,
// so nothing leaves the machine.
TEST_F(CameraFinderNetworkTest, TheCameraOnThisMachineIsFoundWhileBothShareTheDiscoveryPort) {
    test::CameraProcess camera({"--port", "0", "--bind", "127.0.0.1", "--discovery", "--uuid",
                                "desk-uuid", "--name", "Desk"});
    ASSERT_TRUE(camera.waitForLine("discovery announce"));
    CameraFinder::Options loopback = options();
    loopback.gatherAddresses = [](std::vector<std::string>&, std::vector<std::string>& ipv4) {
        ipv4.push_back("127.0.0.1");
    };
    attach(CameraFinder::init(loopback));
    ASSERT_TRUE(scanner->bUDPReady())
        << "UDP port 10221 is held on this machine by a socket that does not share it";
    onMain([&] { scanner->startScan(); });

    ASSERT_TRUE(waitUntil([&] { return find("desk-uuid") != nullptr; }));
    EXPECT_EQ(shown("desk-uuid"), "127.0.0.1 " + std::to_string(camera.port()) + " Desk");
    EXPECT_TRUE(camera.waitForLine("discovery request from 127.0.0.1:10221"));
    EXPECT_TRUE(camera.waitForLine("discovery answer iamin to 127.0.0.1:10221"));

    // Every unicast datagram to the shared port reaches the scanner: the camera's socket there
    // takes only the group's.
    test::DatagramSocket sender;
    constexpr int kAnswers = 32;
    for (int i = 0; i < kAnswers; ++i) {
        sender.send(makePeerIdentity(PeerCommand::IAmIn, 7341, "unicast-" + std::to_string(i), ""),
                    "127.0.0.1", kDiscoveryPort);
    }
    const auto heard = [&] {
        int count = 0;
        for (int i = 0; i < kAnswers; ++i) {
            count += find("unicast-" + std::to_string(i)) != nullptr ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return heard() == kAnswers; })) << heard();

    EXPECT_EQ(camera.stop(), 0);
    EXPECT_TRUE(waitUntil([&] { return find("desk-uuid") == nullptr; }));
}

}  // namespace
}  // namespace vistamo
