#pragma once

#include <cstddef>
#include <utility>

#include "platform/Bytes.h"

namespace vistamo {

// One queued write of a TcpStream. Owned by the socket; touched on its queue only.
struct PendingWrite {
    PendingWrite(Bytes data, double timeoutSeconds, long writeTag)
        : buffer(std::move(data)), timeout(timeoutSeconds), tag(writeTag) {}

    Bytes buffer;
    size_t bytesDone = 0;
    // Seconds this write may take, extensions granted by the delegate included; negative: none.
    double timeout;
    long tag;

    size_t bytesLeft() const { return buffer.size() - bytesDone; }
};

}  // namespace vistamo
