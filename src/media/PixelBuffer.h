#pragma once

#include <memory>

namespace vistamo {

// One decoded picture, shared by reference between the decoder's reorder ring, the renderer
// and snapshots; pixels are never copied after decoding. Defined by the decoder.
struct DecodedFrame;
using PixelBuffer = std::shared_ptr<const DecodedFrame>;

}  // namespace vistamo
