#pragma once

#include <cstddef>
#include <string_view>

namespace vistamo {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The number of UTF-16 code units the text takes (a character above U+FFFF counts twice).
// Text that is not valid UTF-8 counts one unit per byte that does not start a valid sequence.
size_t utf16Length(std::string_view utf8);

}  // namespace vistamo
