// The scanner's list, its reports and the status line, fed with datagrams straight through its
// receive callback; a scanner without a local address has no socket, so nothing goes out.
#include "discovery/CameraFinder.h"

#include <gtest/gtest.h>

#include "discovery/DiscoveryDoubles.h"

namespace vistamo {
namespace {

using test::onMain;

const std::string kOwnIdentity = "0123456789abcdef0123456789abcdef";
using Lines = std::vector<std::string>;

class CameraFinderTest : public ::testing::Test, public test::ScannerDriver {
protected:
    void SetUp() override {
        CameraFinder::Options options;
        options.scanPeriodSeconds = 0;  // the test ticks
        options.gatherAddresses = [](Lines&, Lines&) {};
        options.deviceIdentity = [] { return kOwnIdentity; };
        attach(CameraFinder::init(options));
    }

    // Hands a datagram over as the socket would and waits until the main queue has taken it.
    void receive(const Bytes& datagram, const std::string& from, uint16_t port = 10221) {
        scanner->datagramReceived(nullptr, datagram, test::socketAddress(from, port), nullptr);
        onMain([] {});
    }
    void iAmIn(const std::string& uuid, const std::string& from = "10.0.0.1", uint16_t port = 7341,
               const std::string& name = "Cam") {
        receive(makePeerIdentity(PeerCommand::IAmIn, port, uuid, name), from);
    }
    void iAmOut(const std::string& uuid) {
        receive(makePeerIdentity(PeerCommand::IAmOut, 0, uuid, ""), "10.0.0.50");
    }
};

TEST_F(CameraFinderTest, AnswersKeepOneRecordPerCameraWithItsNewestAddressPortAndName) {
    EXPECT_FALSE(scanner->socket());
    iAmIn("cam-a", "192.168.1.30", 7000, "Porch");
    // A response's port is where it came from, whatever its port bytes say.
    Bytes response = makeResponse("cam-b", "Garage");
    response[2] = response[3] = 0xFF;
    receive(response, "fd00::5", 7341);
    iAmIn("cam-a", "192.168.1.31", 7001, "Porch two");

    const auto records = list();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(shown("cam-a"), "192.168.1.31 7001 Porch two");
    EXPECT_EQ(records[0]->ticksLeft(), CameraFinder::kAnsweredShowTimes);
    EXPECT_EQ(shown("cam-b"), "fd00::5 7341 Garage");
    EXPECT_EQ(records[1]->ticksLeft(), CameraRecord::kInitialShowTimes);
    EXPECT_EQ(reports(), (Lines{"added cam-a", "added cam-b", "changed cam-a"}));
}

TEST_F(CameraFinderTest, ACameraFoundOnceIsGoneOnTheFourthTickAndAWideAreaOneLosesItsAddress) {
    iAmIn("once");
    iAmIn("wan");
    onMain([&] { list()[1]->setWideArea(true); });
    for (int i = 0; i < 3; ++i) {
        tick();
    }
    EXPECT_EQ(reports(), (Lines{"added once", "added wan"}));
    tick();
    tick();
    EXPECT_EQ(reports(), (Lines{"added once", "added wan", "gone once"})) << "told once";
    EXPECT_EQ(list()[1]->address(), std::nullopt);
    EXPECT_EQ(list()[1]->ticksLeft(), 0);
    iAmIn("once");
    EXPECT_EQ(reports().back(), "changed once");
}

TEST_F(CameraFinderTest, TheStatusLineAlternatesEveryTwoTicksOnlyWhileACameraIsNotGone) {
    const std::string found = "found";
    const std::string scanning = "searching";
    tick();
    tick();
    for (int i = 0; i < 6; ++i) {
        iAmIn("cam");
        tick();
    }
    const Lines expected{scanning, scanning, scanning, scanning, found, found, scanning, scanning};
    EXPECT_EQ(onMain([&] { return host->status; }), expected);

    // Guarded ticks send nothing, age nothing and leave the status line and its counter.
    onMain([&] { scanner->setNetStatus(0); });
    tick();
    onMain([&] {
        scanner->setNetStatus(1);
        scanner->setBVerified(true);
    });
    tick();
    EXPECT_EQ(list()[0]->ticksLeft(), 1);
    onMain([&] { scanner->setBVerified(false); });
    tick();
    const Lines after = onMain([&] { return host->status; });
    EXPECT_EQ(after.size(), expected.size() + 1);
    EXPECT_EQ(after.back(), found);

    // Once the only camera is gone, the status line only searches.
    for (int i = 0; i < 6; ++i) {
        tick();
    }
    const Lines gone = onMain([&] { return host->status; });
    EXPECT_EQ(Lines(gone.end() - 4, gone.end()), (Lines(4, scanning)));
}

TEST_F(CameraFinderTest, CamerasLeaveOneByOneOrAllTogether) {
    for (const char* uuid : {"a", "b", "c"}) {
        iAmIn(uuid);
    }
    iAmOut("b");
    iAmOut("nobody");
    EXPECT_EQ(list().size(), 2u);
    onMain([&] { scanner->removeAllDevices(); });
    iAmIn("d");
    EXPECT_EQ(list().size(), 1u);
    EXPECT_EQ(reports(), (Lines{"added a", "added b", "added c", "removed b", "removed a",
                                "removed c", "added d"}));
}

TEST_F(CameraFinderTest, AnAddressIsAddedOnce) {
    iAmIn("cam", "10.0.0.9");
    // From off the main thread, which the scanner handles itself.
    EXPECT_FALSE(scanner->addNewOne("10.0.0.9"));
    EXPECT_TRUE(scanner->addNewOne("10.0.0.10"));
    EXPECT_FALSE(scanner->addNewOne("10.0.0.10"));

    const auto records = list();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]->name(), "10.0.0.10");
    EXPECT_EQ(records[1]->port(), CameraRecord::kDefaultPort);
    EXPECT_EQ(records[1]->uuid(), std::nullopt);
    EXPECT_EQ(reports(), (Lines{"added cam", "added 10.0.0.10"}));
    EXPECT_TRUE(onMain([&] { return scanner->isListed(records[1]); }));
    EXPECT_FALSE(onMain([&] { return scanner->isListed(std::make_shared<CameraRecord>()); }));
}

}  // namespace
}  // namespace vistamo
