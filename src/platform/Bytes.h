#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vistamo {

// A growable byte buffer: the session's message buffer, a settings file's contents.
using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline std::string textOf(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace vistamo
