#include "AnnexB.h"

namespace vistamo::camera {

namespace {

// Position of the next 00 00 01 at or after `from`, or the stream's size when there is none.
size_t findStartCode(ByteView stream, size_t from) {
    for (size_t i = from; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            return i;
        }
    }
    return stream.size();
}

}  // namespace

std::optional<std::vector<ByteView>> splitAnnexB(ByteView stream) {
    size_t start = findStartCode(stream, 0);
    if (start == stream.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < start; ++i) {
        if (stream[i] != 0) {
            return std::nullopt;
        }
    }
    std::vector<ByteView> units;
    while (start < stream.size()) {
        const size_t begin = start + 3;
        const size_t next = findStartCode(stream, begin);
        size_t end = next;
        // A unit never ends in a zero byte, so zeros before the next start code belong to it
        // (the longer start code, or trailing zero bytes).
        while (end > begin && stream[end - 1] == 0) {
            --end;
        }
        if (end == begin) {
            return std::nullopt;
        }
        units.push_back(stream.subspan(begin, end - begin));
        start = next;
    }
    return units;
}

}  // namespace vistamo::camera
