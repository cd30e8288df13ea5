#include "settings/KeyedArchive.h"

#include <algorithm>
#include <string_view>
#include <type_traits>

#include "settings/ByteFields.h"

namespace vistamo {

namespace {

constexpr std::string_view kMagic = "VKA1";

// The tag of a value is its alternative's index in ArchiveValue.
enum class Tag : uint8_t { kNone = 0, kBool = 1, kInteger = 2, kText = 3 };
static_assert(std::is_same_v<std::variant_alternative_t<0, ArchiveValue>, std::monostate> &&
              std::is_same_v<std::variant_alternative_t<1, ArchiveValue>, bool> &&
              std::is_same_v<std::variant_alternative_t<2, ArchiveValue>, int64_t> &&
              std::is_same_v<std::variant_alternative_t<3, ArchiveValue>, std::string>);

std::nullopt_t corrupt(Error* error, std::string description) {
    if (error != nullptr) {
        *error = Error{kArchiveErrorDomain, kCoderReadCorruptError, std::move(description), {}};
    }
    return std::nullopt;
}

}  // namespace

void KeyedArchiver::encode(ArchiveValue value, const std::string& key) {
    const auto existing = std::find_if(entries_.begin(), entries_.end(),
                                       [&](const auto& entry) { return entry.first == key; });
    if (existing != entries_.end()) {
        existing->second = std::move(value);
    } else {
        entries_.emplace_back(key, std::move(value));
    }
}

void KeyedArchiver::encodeBool(bool value, const std::string& key) { encode(value, key); }

void KeyedArchiver::encodeInteger(int64_t value, const std::string& key) { encode(value, key); }

void KeyedArchiver::encodeObject(std::optional<std::string> value, const std::string& key) {
    if (value) {
        encode(std::move(*value), key);
    } else {
        encode(std::monostate{}, key);
    }
}

Bytes KeyedArchiver::archivedData() const {
    Bytes data(kMagic.begin(), kMagic.end());
    appendInt(data, static_cast<int64_t>(entries_.size()));
    for (const auto& [key, value] : entries_) {
        appendString(data, key);
        data.push_back(static_cast<uint8_t>(value.index()));
        if (const bool* flag = std::get_if<bool>(&value)) {
            appendBool(data, *flag);
        } else if (const int64_t* number = std::get_if<int64_t>(&value)) {
            appendLong(data, *number);
        } else if (const std::string* text = std::get_if<std::string>(&value)) {
            appendString(data, *text);
        }
    }
    return data;
}

std::optional<KeyedUnarchiver> KeyedUnarchiver::unarchive(ByteView data, Error* error) {
    if (data.size() < kMagic.size() || !std::equal(kMagic.begin(), kMagic.end(), data.begin())) {
        return corrupt(error, "not a keyed archive (wrong magic)");
    }
    const std::optional<int64_t> count = getInt(data, kMagic.size());
    if (!count || *count < 0) {
        return corrupt(error, count ? "negative entry count" : "archive truncated in its count");
    }
    size_t position = kMagic.size() + 4;
    KeyedUnarchiver archive;
    // Each entry reads at least 5 bytes or fails, so a large count cannot outrun the data.
    for (int64_t index = 0; index < *count; ++index) {
        const auto where = [index] { return " in entry " + std::to_string(index); };
        Error fieldError;
        auto key = getString(data, position, &fieldError);
        if (!key) {
            return corrupt(error, "bad key" + where() + ": " + fieldError.description);
        }
        position += key->consumed;
        if (position >= data.size()) {
            return corrupt(error, "archive truncated" + where());
        }
        const auto tag = static_cast<Tag>(data[position]);
        position += 1;
        ArchiveValue value;
        switch (tag) {
            case Tag::kNone:
                break;
            case Tag::kBool: {
                if (position >= data.size() || data[position] > 1) {
                    return corrupt(error, "bad boolean" + where());
                }
                value = data[position] == 1;
                position += 1;
                break;
            }
            case Tag::kInteger: {
                const auto number = getLong(data, position);
                if (!number) {
                    return corrupt(error, "archive truncated" + where());
                }
                value = *number;
                position += 8;
                break;
            }
            case Tag::kText: {
                auto text = getString(data, position, &fieldError);
                if (!text) {
                    return corrupt(error, "bad text" + where() + ": " + fieldError.description);
                }
                position += text->consumed;
                value = std::move(text->text);
                break;
            }
            default:
                return corrupt(error, "unknown value tag" + where());
        }
        if (!archive.values_.emplace(std::move(key->text), std::move(value)).second) {
            return corrupt(error, "repeated key" + where());
        }
    }
    if (position != data.size()) {
        return corrupt(error, "bytes after the last entry");
    }
    return archive;
}

bool KeyedUnarchiver::decodeBool(const std::string& key) const {
    const auto found = values_.find(key);
    const bool* flag = found == values_.end() ? nullptr : std::get_if<bool>(&found->second);
    return flag != nullptr && *flag;
}

int64_t KeyedUnarchiver::decodeInteger(const std::string& key) const {
    const auto found = values_.find(key);
    const int64_t* number = found == values_.end() ? nullptr : std::get_if<int64_t>(&found->second);
    return number != nullptr ? *number : 0;
}

std::optional<std::string> KeyedUnarchiver::decodeObject(const std::string& key) const {
    const auto found = values_.find(key);
    const std::string* text =
        found == values_.end() ? nullptr : std::get_if<std::string>(&found->second);
    if (text == nullptr) {
        return std::nullopt;
    }
    return *text;
}

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const {
    return values_.count(key) != 0;
}

}  // namespace vistamo
