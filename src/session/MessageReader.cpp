#include "session/MessageReader.h"

#include <algorithm>

namespace vistamo {

size_t MessageReader::take(ByteView bytes) {
    return static_cast<size_t>(fill(bytes.size(), [&](uint8_t* destination, size_t count) {
        std::copy_n(bytes.begin(), count, destination);
        return static_cast<ssize_t>(count);
    }));
}

std::optional<MessageReader::Message> MessageReader::takeMessage() {
    std::optional<Message> message;
    message.swap(completed_);
    return message;
}

void MessageReader::partDone() {
    if (header_) {
        completed_ = Message{*header_, std::move(part_)};
        header_.reset();
    } else if (const auto header = decodeHeader(part_); header && header->type == kMessageType) {
        if (header->length == kHeaderSize) {
            completed_ = Message{*header, {}};
        } else if (header->length > kHeaderSize && header->length <= kMaxMessageLength) {
            header_ = header;
        }
    }
    part_.clear();  // a body's bytes were moved out: this makes the part empty again
    partLength_ = header_ ? static_cast<size_t>(header_->length - kHeaderSize) : kHeaderSize;
}

void MessageReader::reserveFor(size_t size) {
    if (size <= part_.capacity()) {
        return;
    }
    part_.reserve(std::min(partLength_, std::max(size, 2 * part_.capacity())));
}

}  // namespace vistamo
