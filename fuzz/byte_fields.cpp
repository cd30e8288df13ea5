// The settings field readers at arbitrary offsets: never a read outside the data, and every
// value read writes back to the same bytes.
#include <cstdlib>
#include <cstring>

#include "platform/Utf8.h"
#include "settings/ByteFields.h"

using namespace vistamo;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes(data, size);
    // Offsets from the start, near the end and beyond it, including ones that would overflow.
    const size_t offsets[] = {0, 1, 3, size / 2, size - 1, size, size + 1, SIZE_MAX - 3, SIZE_MAX};
    for (const size_t offset : offsets) {
        const bool inside = offset <= size;
        const size_t left = inside ? size - offset : 0;
        check(getBool(bytes, offset).has_value() == (left >= 1));
        if (const auto value = getInt(bytes, offset)) {
            Bytes again;
            appendInt(again, *value);
            check(left >= 4 && std::memcmp(again.data(), data + offset, 4) == 0);
        } else {
            check(left < 4);
        }
        if (const auto value = getLong(bytes, offset)) {
            Bytes again;
            appendLong(again, *value);
            check(left >= 8 && std::memcmp(again.data(), data + offset, 8) == 0);
        } else {
            check(left < 8);
        }
        Error error;
        if (const auto text = getString(bytes, offset, &error)) {
            check(text->consumed == text->text.size() + 4 && text->consumed <= left);
            check(isValidUtf8(text->text));
            Bytes again;
            appendString(again, text->text);
            check(std::memcmp(again.data(), data + offset, again.size()) == 0);
        } else {
            check(error.code == kCannotDecodeRawData);
        }
    }
    return 0;
}
