#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/Bytes.h"

namespace vistamo::test {

// A message as the wire carries it. Built and parsed here byte by byte, never with the
// session's own helpers, so that tests check the camera against the wire format itself.
struct WireMessage {
    uint64_t length = 0;
    uint32_t type = 0, command = 0, details = 0, details2 = 0;
    Bytes body;
};

uint32_t le32(const uint8_t* p);
Bytes wireHeader(uint32_t command, uint64_t length = 24, uint32_t type = 1);
Bytes wireMessage(uint32_t command, ByteView body = {});
// The answer to a challenge: its block XORed with the key, then the password.
Bytes challengeResponse(const WireMessage& challenge, std::string_view password);

// One end of a blocking loopback TCP connection: a client of the test camera, or the camera
// end that a WireListener hands out. Every read gives up after its timeout, a bound on waiting
// for what must come.
class WireClient {
public:
    using Timeout = std::chrono::milliseconds;
    static constexpr Timeout kTimeout{10000};

    // Connects to the camera at `port` on the loopback address.
    explicit WireClient(uint16_t port);
    ~WireClient();
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    bool connected() const { return connected_; }
    bool send(ByteView bytes);
    // Up to `count` bytes; fewer when the camera closes or nothing comes in time.
    Bytes readBytes(size_t count, Timeout timeout = kTimeout);
    // One whole message, header and body; the header alone when its length is impossible.
    std::optional<Bytes> readMessageBytes(Timeout timeout = kTimeout);
    // None on timeout, close, or a header of another type or an impossible length.
    std::optional<WireMessage> read(Timeout timeout = kTimeout);
    // Reads what is left; true when the peer then closes the connection.
    bool closedByPeer();
    // Takes the connection through the camera's challenge; the status (18) that follows 9.
    std::optional<WireMessage> verify(std::string_view password = "");

private:
    friend class WireListener;
    WireClient(int fd, bool connected) : fd_(fd), connected_(connected) {}
    void setTimeout(Timeout timeout);

    int fd_;
    bool connected_ = false;
};

// A loopback listener standing in for a camera that the session connects to.
class WireListener {
public:
    WireListener();
    ~WireListener();
    uint16_t port() const { return port_; }
    // The next connection, waited for within the timeout; none when none came.
    std::unique_ptr<WireClient> accept();

private:
    int fd_;
    uint16_t port_ = 0;
};

}  // namespace vistamo::test
