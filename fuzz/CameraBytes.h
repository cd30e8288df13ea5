#pragma once

// For the fuzz targets that play a camera's side of a session.
#include <cstddef>
#include <cstdint>

#include "session/CameraSession.h"
#include "session/MessageReader.h"
#include "session/SessionChallenge.h"

namespace vistamo::fuzz {

// Hands `data` to `session` as its socket would: cut into messages by the socket's reader
// (garbage headers skipped), each whole message dispatched in turn; what is left short of a
// message is dropped.
inline void feedAsTheCamera(CameraSession& session, const uint8_t* data, size_t size) {
    SessionChallenge client;
    MessageReader reader;
    for (size_t offset = 0; offset < size;) {
        offset += reader.take(ByteView(data + offset, size - offset));
        if (auto message = reader.takeMessage()) {
            session.handleMessage(nullptr, client, message->header, message->body);
        }
    }
}

}  // namespace vistamo::fuzz
