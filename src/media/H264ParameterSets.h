#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Bytes.h"

namespace vistamo {

// What a decompression session is made from: one sequence and one picture parameter set, the
// picture size the sequence set gives, and the decoder configuration record (avcC, NAL unit
// length size 4) that a decoder takes them in. Immutable; shared between the thread that
// accepts parameter sets and the decoder's thread.
class H264ParameterSets {
public:
    // Largest picture accepted, in macroblocks (4096 x 2304) and in pixels along either side;
    // bounds what a camera can make the decoder allocate.
    static constexpr int64_t kMaxMacroblocks = 36864;
    static constexpr int kMaxSidePixels = 8192;

    // From two NAL units without prefix. None when they are not a sequence and a picture
    // parameter set, when the sequence set is cut short or malformed, or when it describes a
    // stream this decoder does not take: other than 8 bits per sample, field-coded pictures
    // (each picture must come whole in one sample), or a picture beyond the limits above.
    static std::shared_ptr<const H264ParameterSets> create(ByteView sps, ByteView pps);

    // The displayed picture, after the sequence set's cropping.
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // How many pictures at most come before a picture in decode order and after it in display
    // order (max_num_reorder_frames), when the sequence set's VUI says; none when it does not.
    std::optional<uint32_t> maxReorderFrames() const { return maxReorderFrames_; }

    // AVCDecoderConfigurationRecord holding both sets.
    ByteView avcC() const { return avcC_; }

    class Key {
        friend class H264ParameterSets;
        Key() = default;
    };
    H264ParameterSets(Key, int32_t width, int32_t height, std::optional<uint32_t> maxReorderFrames,
                      Bytes avcC);

private:
    int32_t width_;
    int32_t height_;
    std::optional<uint32_t> maxReorderFrames_;
    Bytes avcC_;
};

}  // namespace vistamo
