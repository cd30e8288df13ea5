#pragma once

#include <memory>

#include "platform/Bytes.h"

namespace vistamo::camera {

class CameraConnection;

// What the camera streams to a client that asked for it (command 16): parameter sets, video
// and audio; and where a client's intercom audio goes. The camera owns one and calls it on its
// one thread; streamRequested and intercomAudio only for clients that passed the password check.
//
// Every operation is optional; the defaults stream nothing and drop intercom audio. A source
// keeps only weak references to connections: a connection may close at any time, and
// `connectionClosed` is its last call about that connection.
class StreamSource {
public:
    virtual ~StreamSource() = default;

    // A client sent 16. Called every time, also when that client is streamed to already.
    virtual void streamRequested(const std::shared_ptr<CameraConnection>& connection) {
        (void)connection;
    }

    // The connection is closed; nothing more may be sent to it.
    virtual void connectionClosed(const CameraConnection& connection) { (void)connection; }

    // A client sent 104: `packet` is its body, arbitrary bytes, valid during the call.
    virtual void intercomAudio(const CameraConnection& connection, ByteView packet) {
        (void)connection, (void)packet;
    }

    // Every stream starts anew, as if its client had just asked (a control command).
    virtual void restartStreams() {}
};

}  // namespace vistamo::camera
