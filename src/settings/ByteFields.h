#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"
#include "platform/Error.h"

namespace vistamo {

// The one field encoding of every settings file: booleans as one byte, integers big-endian,
// strings as a 4-byte big-endian byte count followed by the UTF-8 bytes, no terminator.
//
// Writers append at the end of the buffer. Readers take an offset into untrusted bytes: a
// field that does not lie wholly inside the data is a failure (no value), never a read past
// the end.

// Appends 1 for true, 0 for false.
void appendBool(Bytes& data, bool val);

// Appends the low 32 bits of `value` (callers pass values that fit a signed 32-bit integer).
void appendInt(Bytes& data, int64_t value);

// Appends 8 bytes.
void appendLong(Bytes& data, int64_t value);

// Appends the byte count with appendInt, then the bytes. The text is stored as given; callers
// pass UTF-8 shorter than 2 GiB.
void appendString(Bytes& data, std::string_view val);

// The byte at `offset` (any non-zero byte reads as true).
std::optional<bool> getBool(ByteView data, size_t offset);

// The 4 bytes at `offset` as a signed 32-bit integer, sign-extended.
std::optional<int64_t> getInt(ByteView data, size_t offset);

// The 8 bytes at `offset` as a signed 64-bit integer.
std::optional<int64_t> getLong(ByteView data, size_t offset);

inline constexpr const char* kByteFieldErrorDomain = "byte fields";
// "Cannot decode raw data": the only error getString reports.
inline constexpr long kCannotDecodeRawData = -3001;

struct DecodedString {
    std::string text;
    // Bytes taken from the data: the count field and the string's bytes (n + 4). A reader
    // advances its offset by this much to reach the next field.
    size_t consumed = 0;
};

// The length-prefixed string at `location`. Fails (no value; `*error`, when given, is set to
// an error of kByteFieldErrorDomain with code kCannotDecodeRawData) when the count field does not
// fit in the data, the count is negative, the count runs past the end of the data, or the
// bytes are not valid UTF-8. The description says which.
std::optional<DecodedString> getString(ByteView data, size_t location = 0, Error* error = nullptr);

}  // namespace vistamo
