#pragma once

#include <optional>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo::camera {

// Splits an H.264 Annex B byte stream (NAL units behind 00 00 01 or 00 00 00 01 start codes)
// into its NAL units, without start codes and without the zero bytes that may trail a unit.
// The views point into `stream`. None when the stream does not begin with a start code (zero
// bytes before it are allowed) or holds an empty unit.
std::optional<std::vector<ByteView>> splitAnnexB(ByteView stream);

// The NAL unit types the camera cares about (low five bits of a unit's first byte).
enum NalType : uint8_t {
    NalSlice = 1,
    NalIdrSlice = 5,
    NalSei = 6,
    NalSps = 7,
    NalPps = 8,
};

}  // namespace vistamo::camera
