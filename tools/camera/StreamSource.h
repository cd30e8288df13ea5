#pragma once

#include <memory>

namespace vistamo::camera {

class CameraConnection;

// What the camera streams to a client that asked for it (command 16): parameter sets, video
// and audio. The camera owns one and calls it on its one thread.
//
// Both operations are optional; the defaults stream nothing, which is all the camera does
// until it has an encoder. A source keeps only weak references to connections: a connection may
// close at any time, and `connectionClosed` is its last call about that connection.
class StreamSource {
  public:
    virtual ~StreamSource() = default;

    // A client sent 16. Called every time, also when that client is streamed to already.
    virtual void streamRequested(const std::shared_ptr<CameraConnection>& connection) {
        (void)connection;
    }

    // The connection is closed; nothing more may be sent to it.
    virtual void connectionClosed(const CameraConnection& connection) { (void)connection; }
};

}  // namespace vistamo::camera
