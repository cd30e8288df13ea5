#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vistamo::test {

// A camera peer that a test drives byte by byte: a loopback listener that accepts one
// connection, sends exactly what it is given and reads exactly what it asks for. Blocking, on
// the test's thread; every wait is bounded.
class FakeCamera {
public:
    FakeCamera();
    ~FakeCamera();

    uint16_t port() const { return port_; }

    // Waits for the session's connection; false when none came.
    bool accept();
    void send(ByteView bytes);
    // Exactly `count` bytes, or none when the peer closed or nothing came in time.
    std::optional<Bytes> read(size_t count);
    // One whole message (header and body).
    std::optional<Bytes> readMessage();
    // True once the peer has closed (reads hit the end of the stream), within a bound.
    bool waitForClose();
    void close();

private:
    int listener_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
};

}  // namespace vistamo::test
