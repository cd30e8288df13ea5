#include "settings/ByteFields.h"

#include "platform/Utf8.h"

namespace vistamo {

namespace {

void appendBigEndian(Bytes& data, uint64_t value, size_t width) {
    for (size_t i = width; i-- > 0;) {
        data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// True when `width` bytes starting at `offset` lie inside the data.
bool fits(ByteView data, size_t offset, size_t width) {
    return offset <= data.size() && data.size() - offset >= width;
}

uint64_t readBigEndian(ByteView data, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = (value << 8) | data[offset + i];
    }
    return value;
}

void setError(Error* error, std::string description) {
    if (error != nullptr) {
        *error = Error{kByteFieldErrorDomain, kCannotDecodeRawData, std::move(description), {}};
    }
}

}  // namespace

void appendBool(Bytes& data, bool val) { data.push_back(val ? 1 : 0); }

void appendInt(Bytes& data, int64_t value) {
    appendBigEndian(data, static_cast<uint32_t>(static_cast<uint64_t>(value)), 4);
}

void appendLong(Bytes& data, int64_t value) {
    appendBigEndian(data, static_cast<uint64_t>(value), 8);
}

void appendString(Bytes& data, std::string_view val) {
    appendInt(data, static_cast<int64_t>(val.size()));
    data.insert(data.end(), val.begin(), val.end());
}

std::optional<bool> getBool(ByteView data, size_t offset) {
    if (!fits(data, offset, 1)) {
        return std::nullopt;
    }
    return data[offset] != 0;
}

std::optional<int64_t> getInt(ByteView data, size_t offset) {
    if (!fits(data, offset, 4)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(readBigEndian(data, offset, 4)));
}

std::optional<int64_t> getLong(ByteView data, size_t offset) {
    if (!fits(data, offset, 8)) {
        return std::nullopt;
    }
    return static_cast<int64_t>(readBigEndian(data, offset, 8));
}

std::optional<DecodedString> getString(ByteView data, size_t location, Error* error) {
    const std::optional<int64_t> count = getInt(data, location);
    if (!count) {
        setError(error, "string length field runs past the end of the data");
        return std::nullopt;
    }
    if (*count < 0) {
        setError(error, "negative string length");
        return std::nullopt;
    }
    const size_t length = static_cast<size_t>(*count);
    if (!fits(data, location + 4, length)) {
        setError(error, "string runs past the end of the data");
        return std::nullopt;
    }
    const auto* start = reinterpret_cast<const char*>(data.data() + location + 4);
    std::string_view bytes(start, length);
    if (!isValidUtf8(bytes)) {
        setError(error, "string is not valid UTF-8");
        return std::nullopt;
    }
    return DecodedString{std::string(bytes), length + 4};
}

}  // namespace vistamo
