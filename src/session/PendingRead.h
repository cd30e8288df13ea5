#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/Bytes.h"

namespace vistamo {

// One queued fixed-length read of a TcpStream. Owned by the socket; touched on its queue
// only.
struct PendingRead {
    PendingRead(uint64_t length, double timeoutSeconds, long readTag)
        : timeout(timeoutSeconds), readLength(length), tag(readTag) {}

    // The bytes read so far, from `startOffset` on. The length wanted may come from the network,
    // so the buffer grows with the bytes that arrive instead of being allocated up front.
    Bytes buffer;
    // The socket owns the buffer, so the read's bytes start at its beginning.
    size_t startOffset = 0;
    uint64_t bytesDone = 0;
    // No limit besides `readLength` (reads up to a terminator are not offered).
    uint64_t maxLength = 0;
    // Seconds this read may take, extensions granted by the delegate included; negative: none.
    double timeout;
    uint64_t readLength;
    // Reads up to a terminator are not offered: always empty.
    std::optional<Bytes> term;
    long tag;

    uint64_t bytesWanted() const { return readLength - bytesDone; }
    bool isDone() const { return bytesDone == readLength; }

    // Takes up to bytesWanted() bytes from the front of `source`; returns how many it took.
    size_t takeFrom(ByteView source) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(source.size(), bytesWanted()));
        return fill(count, [&](uint8_t* destination, size_t room) {
            std::copy_n(source.begin(), room, destination);
            return static_cast<ssize_t>(room);
        });
    }

    // Lets `read(destination, count)` put up to `count` bytes (at most bytesWanted()) at the end
    // of the buffer; `read` returns how many it stored, or a negative value for none. Returns
    // what `read` returned.
    template <typename Read>
    ssize_t fill(size_t count, Read&& read) {
        const size_t start = buffer.size();
        reserveFor(start + count);
        buffer.resize(start + count);
        const ssize_t stored = read(buffer.data() + start, count);
        const size_t kept = stored > 0 ? static_cast<size_t>(stored) : 0;
        buffer.resize(start + kept);
        bytesDone += kept;
        return stored;
    }

private:
    // Grows the capacity geometrically so that a long read costs few copies, but never past
    // what the whole read needs.
    void reserveFor(size_t size) {
        if (size <= buffer.capacity()) {
            return;
        }
        const uint64_t whole = startOffset + readLength;
        const uint64_t doubled = std::max<uint64_t>(size, 2 * uint64_t{buffer.capacity()});
        buffer.reserve(static_cast<size_t>(std::min(whole, doubled)));
    }
};

}  // namespace vistamo
