#pragma once

#include <cstddef>

#include "platform/Bytes.h"

namespace vistamo {

// A NAL unit as a camera sends it: a 4-byte prefix, then the unit with its header byte.
inline constexpr size_t kNalPrefixBytes = 4;
inline constexpr int kNalSliceIdr = 5;

// Whether `unit` (prefix included) is a slice of an IDR picture; false for one too short to
// carry a header byte.
inline bool isIdrSlice(ByteView unit) {
    return unit.size() > kNalPrefixBytes && (unit[kNalPrefixBytes] & 0x1f) == kNalSliceIdr;
}

}  // namespace vistamo
