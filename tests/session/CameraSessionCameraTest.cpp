// The session against the test camera over loopback: the whole road from connect to teardown.
#include <gtest/gtest.h>

#include "discovery/CameraRecord.h"
#include "platform/DeviceIdentity.h"
#include "session/CameraSession.h"
#include "session/SessionDoubles.h"
#include "settings/Folders.h"
#include "settings/PasswordStore.h"
#include "support/CameraProcess.h"
#include "support/LoopbackSession.h"
#include "support/TempHome.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::waitUntil;

const std::string kCameraIdentity = "c0ffee00c0ffee00c0ffee00c0ffee00";

class SessionWithCamera : public test::TempHomeTest {
protected:
    void start(const std::string& cameraPassword, const std::string& storedPassword) {
        camera = std::make_unique<test::CameraProcess>(
            std::vector<std::string>{"--port", "0", "--control", "--password", cameraPassword,
                                     "--uuid", kCameraIdentity, "--name", "Porch"});
        makeSession();
        device = test::loopbackCamera(camera->port());
        device->setPassword(storedPassword);
        session->connectToServer(nullptr, device);
    }

    void makeSession() {
        SessionParts parts;
        parts.dialogs = dialogs;
        session = test::makeLoopbackSession(parts, scanner, view);
    }

    void TearDown() override {
        if (HasFailure() && camera) {
            camera->printLines();
        }
        test::TempHomeTest::TearDown();
    }

    std::optional<std::string> line(std::string_view text) { return camera->waitForLine(text); }
    // A line seen so far that contains `text`, wherever it came.
    std::optional<std::string> seen(std::string_view text) const {
        for (const std::string& each : camera->lines()) {
            if (each.find(text) != std::string::npos) {
                return each;
            }
        }
        return std::nullopt;
    }

    std::unique_ptr<test::CameraProcess> camera;
    std::shared_ptr<test::ScriptedDialogs> dialogs = std::make_shared<test::ScriptedDialogs>();
    std::shared_ptr<test::RecordingScanner> scanner = std::make_shared<test::RecordingScanner>();
    std::shared_ptr<test::RecordingView> view = std::make_shared<test::RecordingView>();
    std::shared_ptr<CameraRecord> device;
    std::shared_ptr<CameraSession> session;
};

TEST_F(SessionWithCamera, HandshakeStatusAndStreamRequests) {
    start("secret", "secret");
    ASSERT_TRUE(line("recv CmdRequestCameraInfo"));
    EXPECT_TRUE(seen("verified"));
    // The client's own challenge carries this machine's identity (41 + 32 bytes).
    const std::string identity = machineIdentity();
    auto challenge = seen("recv CmdChallenge ");
    ASSERT_TRUE(challenge);
    EXPECT_NE(challenge->find("length=" + std::to_string(41 + identity.size())), std::string::npos);
    EXPECT_TRUE(seen("client identity " + identity));
    EXPECT_EQ(device->uuid(), kCameraIdentity);
    EXPECT_EQ(device->name(), "Porch");

    // Every status before the stream parameters is answered with a stream request.
    ASSERT_TRUE(line("recv CmdRequestStream"));
    camera->sendControl("status");
    ASSERT_TRUE(line("recv CmdRequestStream"));
    EXPECT_EQ(dialogs->passwordAlertCount(), 0);

    // Torch and guard reach the camera and come back as state.
    session->flashSwitch();
    session->startMonitor(true);
    ASSERT_TRUE(line("recv CmdStartMonitor"));
    ASSERT_TRUE(waitUntil([&] { return session->bFlashing() && session->bGuarding(); }));
    ASSERT_TRUE(waitUntil([&] { return view->flash == 1; }));
}

TEST_F(SessionWithCamera, WrongPasswordAskedAgainAndStored) {
    ASSERT_TRUE(createSubFolder(kAppFolderName, true));
    scanner->store = std::make_shared<PasswordStore>();
    dialogs->addAnswer("secret");
    start("secret", "wrong");
    ASSERT_TRUE(line("password rejected"));
    ASSERT_TRUE(line("recv CmdNewPassword"));
    ASSERT_TRUE(line("recv CmdRequestCameraInfo"));
    EXPECT_TRUE(seen("verified"));
    EXPECT_EQ(dialogs->passwordAlertCount(), 1);
    EXPECT_EQ(device->password(), "secret");
    // The accepted pair is in the file: a fresh store reads it back.
    ASSERT_TRUE(
        waitUntil([&] { return PasswordStore().getPassword(kCameraIdentity).has_value(); }));
    EXPECT_EQ(PasswordStore().getPassword(kCameraIdentity), "secret");
}

// A camera opened by its typed address has no record: the typed password is still the one
// the session answers with next.
TEST_F(SessionWithCamera, TypedAddressAnswersWithTheTypedPassword) {
    camera = std::make_unique<test::CameraProcess>(
        std::vector<std::string>{"--port", std::to_string(kDefaultCameraPort), "--bind",
                                 "127.0.0.1", "--control", "--password", "secret"});
    dialogs->addAnswer("secret");
    makeSession();
    session->connectToServer("127.0.0.1");
    ASSERT_TRUE(line("password rejected"));
    ASSERT_TRUE(line("recv CmdRequestCameraInfo"));
    EXPECT_TRUE(seen("verified"));
    EXPECT_EQ(dialogs->passwordAlertCount(), 1);
}

}  // namespace
}  // namespace vistamo
