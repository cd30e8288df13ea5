#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/Bytes.h"
#include "session/CommandHeader.h"

namespace vistamo {

// Cuts the camera's byte stream into messages: a 24-byte header, checked, then the body of the
// length it announces. A header that is garbage (too short to decode, a type other than 1, or a
// length below 24 or above kMaxMessageLength) is skipped and the next 24 bytes read as a header.
//
// It takes bytes only up to the end of the part being read (a header or a body), so that a
// socket can read straight into it and never past a message. After every fill or take the
// caller collects the completed message, if any, with takeMessage.
//
// Threads: none of its own; one thread at a time (the socket's queue, or a fuzzer).
class MessageReader {
public:
    struct Message {
        CommandHeader header;
        Bytes body;  // empty for a header-only message
    };

    // How many more bytes the part being read needs; never 0.
    size_t bytesWanted() const { return partLength_ - part_.size(); }

    // Lets `read(destination, count)` store up to `count` bytes (at most bytesWanted()) at the
    // end of the part; `read` returns how many it stored, or a negative value for none. Returns
    // what `read` returned.
    template <typename Read>
    ssize_t fill(size_t count, Read&& read) {
        count = std::min(count, bytesWanted());
        const size_t start = part_.size();
        reserveFor(start + count);
        part_.resize(start + count);
        const ssize_t stored = read(part_.data() + start, count);
        part_.resize(start + (stored > 0 ? static_cast<size_t>(stored) : 0));
        if (part_.size() == partLength_) {
            partDone();
        }
        return stored;
    }

    // Takes bytes from the front of `bytes` up to the end of the part being read; returns how
    // many it took.
    size_t take(ByteView bytes);

    // The message the last fill or take completed, once.
    std::optional<Message> takeMessage();

private:
    void partDone();
    // Grows the part geometrically as its bytes arrive, never past its length: a length from
    // the network allocates nothing up front.
    void reserveFor(size_t size);

    Bytes part_;
    size_t partLength_ = kHeaderSize;
    // The checked header whose body is being read.
    std::optional<CommandHeader> header_;
    std::optional<Message> completed_;
};

}  // namespace vistamo
