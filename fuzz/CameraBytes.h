#pragma once

// For the fuzz targets that play a camera's side of a session.
#include <cstddef>
#include <cstdint>

#include "session/CameraSession.h"
#include "session/SessionChallenge.h"

namespace vistamo::fuzz {

// Hands `data` to `session` as its socket would: a 24-byte header, then the body it announces,
// and so on, each read as long as the session asks for; what is left short of a read is dropped.
inline void feedAsTheCamera(CameraSession& session, const uint8_t* data, size_t size) {
    SessionChallenge client;
    CameraSession::ReadRequest next{kHeaderSize, kReadHeader};
    size_t offset = 0;
    while (size - offset >= next.length) {
        const ByteView chunk(data + offset, static_cast<size_t>(next.length));
        offset += static_cast<size_t>(next.length);
        next = session.consume(nullptr, client, chunk, next.tag);
    }
}

}  // namespace vistamo::fuzz
