// The test camera, driven over loopback by a bare client that builds every byte itself, so that
// what the viewer's tests later rely on (challenge, password check, state reports, framing) is
// checked against the wire format rather than against the camera's own helpers.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/CameraProcess.h"

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCheck = 0x5E21C4A7;
constexpr std::array<uint8_t, 16> kKey = {0x3e, 0xa1, 0x5c, 0x07, 0xd2, 0x94, 0x6b, 0xf0,
                                          0x18, 0xc7, 0x2d, 0x83, 0x59, 0xe6, 0x0a, 0xb4};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void putLe(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

Bytes header(uint32_t command, uint64_t length = 24, uint32_t type = 1) {
    Bytes out;
    putLe(out, length, 8);
    putLe(out, type, 4);
    putLe(out, command, 4);
    putLe(out, 0, 8);
    return out;
}

Bytes message(uint32_t command, std::string_view body = {}) {
    Bytes out = header(command, 24 + body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct Message {
    uint64_t length = 0;
    uint32_t type = 0;
    uint32_t command = 0;
    uint32_t details = 0;
    uint32_t details2 = 0;
    Bytes body;
};

// A blocking loopback client; reads give up after a timeout.
class RawClient {
public:
    explicit RawClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }

    // Up to `count` bytes; fewer when the camera closes or nothing comes within the timeout.
    Bytes readBytes(size_t count, std::chrono::milliseconds timeout = 5s) {
        timeval limit{timeout.count() / 1000, static_cast<long>(timeout.count() % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        Bytes bytes(count);
        size_t got = 0;
        while (got < count) {
            const ssize_t n = ::recv(fd_, bytes.data() + got, count - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    std::optional<Message> read(std::chrono::milliseconds timeout = 5s) {
        const Bytes head = readBytes(24, timeout);
        if (head.size() < 24) {
            return std::nullopt;
        }
        Message m;
        m.length = le32(&head[0]) | uint64_t(le32(&head[4])) << 32;
        m.type = le32(&head[8]);
        m.command = le32(&head[12]);
        m.details = le32(&head[16]);
        m.details2 = le32(&head[20]);
        if (m.length < 24 || m.length > 0x400000) {
            return std::nullopt;
        }
        m.body = readBytes(m.length - 24, timeout);
        if (m.body.size() != m.length - 24) {
            return std::nullopt;
        }
        return m;
    }

    // The next message with `command`, passing over others (alarms, say).
    std::optional<Message> readCommand(uint32_t command) {
        for (auto m = read(); m; m = read()) {
            if (m->command == command) {
                return m;
            }
        }
        return std::nullopt;
    }

    // Reads what is left; true when the camera then closes the connection.
    bool closedByCamera(std::chrono::milliseconds timeout = 5s) {
        timeval limit{timeout.count() / 1000, static_cast<long>(timeout.count() % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        uint8_t sink[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
            if (n <= 0) {
                return n == 0;
            }
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

// The command and the flags of a message, none when no message came.
std::optional<uint32_t> commandOf(const std::optional<Message>& m) {
    return m ? std::optional(m->command) : std::nullopt;
}
std::optional<uint32_t> statusFlagsOf(const std::optional<Message>& m) {
    return m && m->command == 18 ? std::optional(m->details2) : std::nullopt;
}

// The answer to a challenge: its block XORed with the key, then the password.
Bytes responseTo(const Message& challenge, std::string_view password) {
    std::string body(16, '\0');
    for (size_t i = 0; i < 16; ++i) {
        body[i] = static_cast<char>(challenge.body[i] ^ kKey[i]);
    }
    return message(30, body + std::string(password));
}

bool blockChecks(const Message& challenge) {
    return challenge.body.size() >= 16 &&
           le32(&challenge.body[12]) == (le32(&challenge.body[4]) ^ kCheck);
}

// Takes the connection through the challenge; returns the status that follows 9.
std::optional<Message> verify(RawClient& client, std::string_view password) {
    const auto challenge = client.read();
    const auto request = client.read();
    if (!challenge || challenge->command != 1 || !request || request->command != 50) {
        return std::nullopt;
    }
    client.send(responseTo(*challenge, password));
    const auto verified = client.read();
    if (!verified || verified->command != 9 || verified->body.empty()) {
        return std::nullopt;
    }
    return client.read();
}

TEST(CameraTool, ChallengesAndChecksThePassword) {
    CameraProcess camera({"--port", "0", "--control", "--password", "s3cret", "--name", "Porch Cam",
                          "--uuid", "00112233445566778899AABBCCDDEEFF"});
    RawClient client(camera.port());
    ASSERT_TRUE(client.connected());

    const auto challenge = client.read();
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->command, 1u);
    EXPECT_TRUE(blockChecks(*challenge));
    ASSERT_EQ(challenge->length, 41u + 32 + 9);
    EXPECT_EQ(challenge->body[16], 32);
    EXPECT_EQ(std::string(challenge->body.begin() + 17, challenge->body.end()),
              "00112233445566778899AABBCCDDEEFFPorch Cam");
    const auto request = client.read();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->command, 50u);
    EXPECT_GT(request->length, 24u);

    client.send(responseTo(*challenge, "s3creT"));
    auto answer = client.read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->command, 13u);
    EXPECT_EQ(answer->length, 24u);
    EXPECT_TRUE(camera.waitForLine("password rejected conn=1"));

    // 35 starts over with a new block; an answer to the old one no longer counts.
    client.send(message(35));
    const auto again = client.read();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->command, 1u);
    ASSERT_TRUE(blockChecks(*again));
    EXPECT_NE(Bytes(again->body.begin(), again->body.begin() + 16),
              Bytes(challenge->body.begin(), challenge->body.begin() + 16));
    EXPECT_EQ(commandOf(client.read()), 50u);
    client.send(responseTo(*challenge, "s3cret"));
    EXPECT_EQ(commandOf(client.read()), 13u);
    client.send(responseTo(*again, "s3cret"));
    answer = client.read();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->command, 9u);
    EXPECT_GT(answer->length, 24u);
    EXPECT_EQ(commandOf(client.read()), 18u);

    // The client's own challenge is reported with the identity and name it carries.
    std::string clientChallenge(16, '\x11');
    clientChallenge += '\x04';
    clientChallenge += "ABCDDesk one";
    client.send(message(1, clientChallenge));
    EXPECT_TRUE(camera.waitForLine("client identity ABCD name Desk one conn=1"));
}

TEST(CameraTool, ReportsEveryStateChangeToEveryClient) {
    CameraProcess camera;  // no password: an empty one is accepted
    RawClient first(camera.port());
    const auto initial = verify(first, "");
    ASSERT_TRUE(initial);
    EXPECT_EQ(initial->command, 18u);
    EXPECT_EQ(initial->details & 0xFFFF, 30u);
    EXPECT_EQ(initial->details2, 0u);

    const std::pair<uint32_t, uint32_t> steps[] = {{27, 0x01}, {28, 0x09}, {6, 0x19}, {29, 0x1D},
                                                   {7, 0x0D},  {27, 0x0C}, {29, 0x08}};
    for (const auto& [command, flags] : steps) {
        first.send(message(command));
        const auto status = first.read();
        ASSERT_TRUE(status) << "after " << command;
        EXPECT_EQ(status->command, 18u);
        EXPECT_EQ(status->details2, flags) << "after " << command;
    }

    // A second client sees the same camera, and both hear of changes either one makes.
    RawClient second(camera.port());
    const auto secondInitial = verify(second, "");
    ASSERT_TRUE(secondInitial);
    EXPECT_EQ(secondInitial->details2, 0x08u);
    second.send(message(28));
    EXPECT_EQ(statusFlagsOf(second.read()), 0u);
    EXPECT_EQ(statusFlagsOf(first.read()), 0u);

    first.send(message(16));
    EXPECT_TRUE(camera.waitForLine("stream requested conn=1"));
}

TEST(CameraTool, SkipsGarbageHeadersAndSurvivesNoise) {
    CameraProcess camera;
    {
        RawClient client(camera.port());
        ASSERT_TRUE(verify(client, ""));
        // Three torch toggles in headers that must be dropped, then one screen toggle.
        Bytes stream = header(27, 24, 2);
        const Bytes shortLength = header(27, 5);
        const Bytes longLength = header(27, 0x400001);
        const Bytes valid = message(28);
        for (const Bytes* part : {&shortLength, &longLength, &valid}) {
            stream.insert(stream.end(), part->begin(), part->end());
        }
        client.send(stream);
        const auto status = client.read();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->command, 18u);
        EXPECT_EQ(status->details2, 0x08u);
        EXPECT_TRUE(camera.waitForLine("reason=bad-type"));
        EXPECT_TRUE(camera.waitForLine("reason=short-length"));
        EXPECT_TRUE(camera.waitForLine("reason=long-length"));

        // Noise, then the client goes away in the middle of whatever the noise announced.
        Bytes noise(8192);
        uint32_t seed = 12345;
        for (auto& byte : noise) {
            seed = seed * 1103515245 + 12345;
            byte = static_cast<uint8_t>(seed >> 16);
        }
        client.send(noise);
    }
    EXPECT_TRUE(camera.waitForLine("closed by peer conn=1"));
    RawClient next(camera.port());
    EXPECT_TRUE(verify(next, ""));
}

TEST(CameraTool, AlarmsOnlyWhileArmed) {
    CameraProcess camera({"--port", "0", "--alarm-every", "0.1"});
    RawClient client(camera.port());
    ASSERT_TRUE(verify(client, ""));
    EXPECT_FALSE(client.read(350ms)) << "an alarm while disarmed";

    client.send(message(6));
    EXPECT_EQ(statusFlagsOf(client.read()), 0x10u);
    EXPECT_EQ(commandOf(client.read()), 2u);
    EXPECT_EQ(commandOf(client.read()), 2u);

    client.send(message(7));
    const auto disarmed = client.readCommand(18);
    ASSERT_TRUE(disarmed);
    EXPECT_EQ(disarmed->details2, 0u);
    EXPECT_FALSE(client.read(350ms)) << "an alarm after disarming";
}

TEST(CameraTool, ControlCommandsAndEndings) {
    CameraProcess camera;
    RawClient client(camera.port());
    ASSERT_TRUE(verify(client, ""));

    camera.sendControl("alarm");
    EXPECT_EQ(commandOf(client.read()), 2u);
    camera.sendControl("status");
    EXPECT_EQ(commandOf(client.read()), 18u);
    camera.sendControl("send 18000000 00000000 01000000 1e000000 00000000 00000000");
    EXPECT_EQ(commandOf(client.read()), 30u);
    camera.sendControl("challenge");
    EXPECT_EQ(commandOf(client.read()), 1u);
    EXPECT_EQ(commandOf(client.read()), 50u);
    camera.sendControl("frobnicate");
    EXPECT_TRUE(camera.waitForLine("control error"));

    camera.sendControl("close-mid-body");
    const Bytes cut = client.readBytes(200);
    ASSERT_EQ(cut.size(), 24u + 10);
    EXPECT_EQ(le32(cut.data()), 124u);
    EXPECT_TRUE(client.closedByCamera());

    {
        RawClient leaving(camera.port());
        ASSERT_TRUE(leaving.read());
    }
    EXPECT_TRUE(camera.waitForLine("closed by peer conn=2"));
    RawClient disconnecting(camera.port());
    ASSERT_TRUE(disconnecting.read());
    Bytes disconnect = header(200);
    disconnect[18] = 0x07;
    disconnecting.send(disconnect);
    EXPECT_TRUE(disconnecting.closedByCamera());
    EXPECT_TRUE(camera.waitForLine("disconnect requested conn=3"));
    EXPECT_TRUE(camera.waitForLine("closed conn=3"));

    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.lines().back(), "stopped");
}

TEST(CameraTool, RejectsBadOptions) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--port", "65536"},
                                                                       {"--alarm-every", "0"},
                                                                       {"--bind", "nowhere"},
                                                                       {"--name"},
                                                                       {"--gop", "26"},
                                                                       {"--size", "320x241"},
                                                                       {"--tone", "0"},
                                                                       {"--frobnicate"}}) {
        const auto run = CameraProcess::runToEnd(arguments);
        EXPECT_EQ(run.status, 2) << arguments[0];
        EXPECT_NE(run.errors.find(arguments[0]), std::string::npos) << run.errors;
    }
    const auto help = CameraProcess::runToEnd({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--alarm-every"), std::string::npos);
}

}  // namespace
}  // namespace vistamo::test
