// The test camera, driven over loopback by a bare client that builds every byte itself, so that
// what the viewer's tests later rely on (challenge, password check, state reports, framing) is
// checked against the wire format rather than against the camera's own helpers.

#include <gtest/gtest.h>

#include "support/CameraProcess.h"
#include "support/WireClient.h"

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;

std::optional<uint32_t> commandOf(const std::optional<WireMessage>& m) {
    return m ? std::optional(m->command) : std::nullopt;
}
std::optional<uint32_t> statusFlagsOf(const std::optional<WireMessage>& m) {
    return m && m->command == 18 ? std::optional(m->details2) : std::nullopt;
}

bool blockChecks(const WireMessage& challenge) {
    return challenge.body.size() >= 16 &&
           le32(&challenge.body[12]) == (le32(&challenge.body[4]) ^ 0x5E21C4A7);
}

TEST(CameraTool, ChallengesAndChecksThePassword) {
    CameraProcess camera({"--port", "0", "--control", "--password", "s3cret", "--name", "Porch Cam",
                          "--uuid", "00112233445566778899AABBCCDDEEFF"});
    WireClient client(camera.port());
    ASSERT_TRUE(client.connected());

    const auto challenge = client.read();
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->command, 1u);
    EXPECT_TRUE(blockChecks(*challenge));
    ASSERT_EQ(challenge->length, 41u + 32 + 9);
    EXPECT_EQ(challenge->body[16], 32);
    EXPECT_EQ(textOf(ByteView(challenge->body).subspan(17)),
              "00112233445566778899AABBCCDDEEFFPorch Cam");
    const auto request = client.read();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->command, 50u);
    EXPECT_GT(request->length, 24u);

    client.send(challengeResponse(*challenge, "s3creT"));
    auto answer = client.read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->command, 13u);
    EXPECT_EQ(answer->length, 24u);
    EXPECT_TRUE(camera.waitForLine("password rejected conn=1"));

    // 35 starts over with a new block; an answer to the old one no longer counts.
    client.send(wireMessage(35));
    const auto again = client.read();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->command, 1u);
    ASSERT_TRUE(blockChecks(*again));
    EXPECT_NE(Bytes(again->body.begin(), again->body.begin() + 16),
              Bytes(challenge->body.begin(), challenge->body.begin() + 16));
    EXPECT_EQ(commandOf(client.read()), 50u);
    client.send(challengeResponse(*challenge, "s3cret"));
    EXPECT_EQ(commandOf(client.read()), 13u);
    client.send(challengeResponse(*again, "s3cret"));
    answer = client.read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->command, 9u);
    EXPECT_GT(answer->length, 24u);
    EXPECT_EQ(commandOf(client.read()), 18u);

    // The client's own challenge is reported with the identity and name it carries.
    client.send(wireMessage(1, bytesOf(std::string(16, '\x11') + "\x04" + "ABCDDesk one")));
    EXPECT_TRUE(camera.waitForLine("client identity ABCD name Desk one conn=1"));
}

TEST(CameraTool, ReportsEveryStateChange) {
    CameraProcess camera;  // no password: an empty one is accepted
    WireClient first(camera.port());
    const auto initial = first.verify();
    ASSERT_TRUE(initial);
    EXPECT_EQ(initial->details & 0xFFFF, 30u);
    EXPECT_EQ(initial->details2, 0u);

    const std::pair<uint32_t, uint32_t> steps[] = {{27, 0x01}, {28, 0x09}, {6, 0x19}, {29, 0x1D},
                                                   {7, 0x0D},  {27, 0x0C}, {29, 0x08}};
    for (const auto& [command, flags] : steps) {
        first.send(wireMessage(command));
        EXPECT_EQ(statusFlagsOf(first.read()), flags) << "after " << command;
    }

    first.send(wireMessage(16));
    EXPECT_TRUE(camera.waitForLine("stream requested conn=1"));
}

TEST(CameraTool, ControlCommandsAndEndings) {
    CameraProcess camera;
    WireClient client(camera.port());
    ASSERT_TRUE(client.verify());

    camera.sendControl("alarm");
    EXPECT_EQ(commandOf(client.read()), 2u);
    camera.sendControl("frobnicate");
    EXPECT_TRUE(camera.waitForLine("control error"));

    camera.sendControl("close-mid-body");
    const Bytes cut = client.readBytes(200);
    ASSERT_EQ(cut.size(), 24u + 10);
    EXPECT_EQ(le32(cut.data()), 124u);
    EXPECT_TRUE(client.closedByPeer());

    WireClient disconnecting(camera.port());
    ASSERT_TRUE(disconnecting.read());
    Bytes disconnect = wireHeader(200);
    disconnect[18] = 0x07;
    disconnecting.send(disconnect);
    EXPECT_TRUE(disconnecting.closedByPeer());
    EXPECT_TRUE(camera.waitForLine("disconnect requested conn=2"));
    EXPECT_TRUE(camera.waitForLine("closed conn=2"));

    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.lines().back(), "stopped");
}

}  // namespace
}  // namespace vistamo::test
