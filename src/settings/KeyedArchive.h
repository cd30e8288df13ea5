#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Error.h"

namespace vistamo {

// A small typed key -> value archive: each key holds a boolean, a signed 64-bit integer, a
// text, or none (an object slot encoded without a value).
//
// Byte layout, with the settings-file field encodings (big-endian integers, strings as a
// 4-byte byte count and UTF-8 bytes):
//
//   "VKA1"                      4 bytes, the format and its version
//   entry count                 4 bytes, signed, not negative
//   entries, in encoding order:
//     key                       length-prefixed UTF-8 string
//     tag                       1 byte: 0 none, 1 boolean, 2 integer, 3 text
//     value                     none: nothing; boolean: 1 byte, 0 or 1; integer: 8 bytes;
//                               text: length-prefixed UTF-8 string
//
// Nothing may follow the last entry, and a key appears at most once.
using ArchiveValue = std::variant<std::monostate, bool, int64_t, std::string>;

// The error of an archive that cannot be read.
inline constexpr const char* kArchiveErrorDomain = "settings archive";
inline constexpr long kCoderReadCorruptError = 4864;

class KeyedArchiver {
public:
    // Encoding a key again replaces its value and keeps its first position.
    void encodeBool(bool value, const std::string& key);
    void encodeInteger(int64_t value, const std::string& key);
    void encodeObject(std::optional<std::string> value, const std::string& key);

    Bytes archivedData() const;

private:
    void encode(ArchiveValue value, const std::string& key);

    std::vector<std::pair<std::string, ArchiveValue>> entries_;
};

class KeyedUnarchiver {
public:
    // The archive in `data`, or none when the bytes are not one: a wrong magic, a truncated
    // field, a negative count, an unknown tag, a boolean byte other than 0 or 1, text that is
    // not UTF-8, a repeated key, or bytes after the last entry. `*error` (when given) is then
    // kCoderReadCorruptError of kArchiveErrorDomain with a description of the fault.
    static std::optional<KeyedUnarchiver> unarchive(ByteView data, Error* error = nullptr);

    // A key that is missing, or holds a value of another type, reads as false, 0 or none.
    bool decodeBool(const std::string& key) const;
    int64_t decodeInteger(const std::string& key) const;
    std::optional<std::string> decodeObject(const std::string& key) const;

    // True for every encoded key, including one encoded as none.
    bool containsValueForKey(const std::string& key) const;

private:
    KeyedUnarchiver() = default;

    std::map<std::string, ArchiveValue, std::less<>> values_;
};

}  // namespace vistamo
