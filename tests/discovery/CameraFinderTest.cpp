// The scanner's list, buttons and status line, fed with datagrams straight through its
// receive callback; a scanner without a local address has no socket, so nothing goes out.
#include "discovery/CameraFinder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "discovery/DiscoveryDoubles.h"
#include "settings/PasswordStore.h"
#include "support/TempHome.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::buttonOf;
using test::onMain;

const std::string kOwnIdentity = "0123456789abcdef0123456789abcdef";
using Lines = std::vector<std::string>;

class CameraFinderTest : public test::TempHomeTest, public test::ScannerDriver {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        std::filesystem::create_directories(home_ / ".config" / "vistamo+");
        config = std::make_unique<PasswordStore>();
        host->store = config.get();
        CameraFinder::Options options;
        options.scanPeriodSeconds = 0;  // the test ticks
        options.gatherAddresses = [](Lines&, Lines&) {};
        options.deviceIdentity = [] { return kOwnIdentity; };
        attach(CameraFinder::init(options));
    }
    void TearDown() override {
        scanner.reset();  // before the configuration it reads
        TempHomeTest::TearDown();
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
    // Per record "uuid tag", with " hidden" when its button is.
    Lines buttons() {
        return onMain([&] {
            Lines seen;
            for (const auto& record : scanner->records()) {
                const auto button = buttonOf(record);
                seen.push_back(record->uuid().value_or("none") + " " +
                               std::to_string(button->tag()) +
                               (button->isHidden() ? " hidden" : ""));
            }
            return seen;
        });
    }

    std::unique_ptr<PasswordStore> config;
};

TEST_F(CameraFinderTest, AnswersKeepOneRecordPerCameraWithItsNewestAddressPortAndName) {
    EXPECT_FALSE(scanner->socket());
    config->appendUUID("cam-a", "secret");
    iAmIn("cam-a", "192.168.1.30", 7000, "Porch");
    // A response's port is where it came from, whatever its port bytes say.
    Bytes response = makeResponse("cam-b", "Garage");
    response[2] = response[3] = 0xFF;
    receive(response, "fd00::5", 7341);
    iAmIn("cam-a", "192.168.1.31", 7001, "Porch two");

    const auto records = list();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(shown("cam-a"), "192.168.1.31 7001 Porch two");
    EXPECT_EQ(records[0]->password(), "secret");
    EXPECT_EQ(records[0]->ticksLeft(), CameraFinder::kAnsweredShowTimes);
    EXPECT_EQ(shown("cam-b"), "fd00::5 7341 Garage");
    EXPECT_EQ(records[1]->password(), std::nullopt);
    EXPECT_EQ(records[1]->ticksLeft(), CameraRecord::kInitialShowTimes);
    EXPECT_EQ(buttons(), (Lines{"cam-a 0", "cam-b 1"}));
    onMain([&] { EXPECT_EQ(buttonOf(records[0])->title, "Porch"); });  // titled once
}

TEST_F(CameraFinderTest, ACameraFoundOnceIsHiddenOnTheFourthTickAndAWideAreaOneLosesItsAddress) {
    iAmIn("once");
    iAmIn("wan");
    onMain([&] { list()[1]->setWideArea(true); });
    for (int i = 0; i < 3; ++i) {
        tick();
    }
    EXPECT_EQ(buttons(), (Lines{"once 0", "wan 1"}));
    tick();
    EXPECT_EQ(buttons(), (Lines{"once 0 hidden", "wan 1"}));
    EXPECT_EQ(list()[1]->address(), std::nullopt);
    EXPECT_EQ(list()[1]->ticksLeft(), 0);
}

TEST_F(CameraFinderTest, TheStatusLineAlternatesEveryTwoTicksOnlyWhileAButtonShows) {
    const std::string found = "found";
    const std::string scanning = "searching";
    tick();
    tick();
    // A camera without a button (the host made none) counts as shown.
    onMain([&] { host->makesButtons = false; });
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
}

TEST_F(CameraFinderTest, RemovingAllTakesEveryButtonAndTagsStartAgain) {
    for (const char* uuid : {"a", "b", "c"}) {
        iAmIn(uuid);
    }
    iAmOut("b");
    iAmOut("nobody");
    EXPECT_EQ(buttons(), (Lines{"a 0", "c 1"}));
    onMain([&] { scanner->removeAllDevices(); });
    EXPECT_TRUE(onMain([&] { return host->buttons[0]->removed && host->buttons[2]->removed; }));
    iAmIn("d");
    EXPECT_EQ(buttons(), (Lines{"d 0"}));
}

TEST_F(CameraFinderTest, AnAddressIsAddedOnceAndTheDialogGetsItsButton) {
    iAmIn("cam", "10.0.0.9");
    const auto dialog = std::make_shared<test::RecordingDialog>();
    // From off the main thread, which the scanner handles itself.
    EXPECT_FALSE(scanner->addNewOne("10.0.0.9", dialog));
    EXPECT_TRUE(scanner->addNewOne("10.0.0.10", dialog));
    EXPECT_FALSE(scanner->addNewOne("10.0.0.10", dialog));

    const auto records = list();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]->name(), "10.0.0.10");
    EXPECT_EQ(records[1]->port(), CameraRecord::kDefaultPort);
    EXPECT_EQ(records[1]->uuid(), std::nullopt);
    EXPECT_EQ(buttons(), (Lines{"cam 0", "none 1"}));
    onMain([&] {
        const auto added = records[1]->button().lock();
        EXPECT_EQ(dialog->handed, (std::vector<std::shared_ptr<DeviceButton>>{
                                      records[0]->button().lock(), added, added}));
    });
}

}  // namespace
}  // namespace vistamo
