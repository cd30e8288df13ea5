#include "platform/Utf8.h"

#include <cstdint>

namespace vistamo {

namespace {

// Length of the well-formed sequence at `i`, and its code point; 0 when malformed.
size_t sequenceAt(std::string_view s, size_t i, uint32_t& codePoint) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < length) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        uint32_t codePoint;
        const size_t length = sequenceAt(bytes, i, codePoint);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

size_t utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        uint32_t codePoint;
        const size_t length = sequenceAt(utf8, i, codePoint);
        if (length == 0) {
            ++units;
            ++i;
            continue;
        }
        units += codePoint > 0xFFFF ? 2 : 1;
        i += length;
    }
    return units;
}

}  // namespace vistamo
