// Which parameter sets make a format description, and the picture size read from them.
#include "media/H264FormatDescription.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

// Writes the bits of a sequence parameter set by hand.
class BitWriter {
public:
    void bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits_.push_back((value >> i) & 1);
        }
    }
    void ue(uint32_t value) {
        const uint64_t code = uint64_t{value} + 1;
        int length = 0;
        while ((code >> length) > 1) {
            ++length;
        }
        bits(0, length);
        bits(static_cast<uint32_t>(code), length + 1);
    }
    // The bits with the stop bit, packed into bytes after `header`.
    Bytes unit(uint8_t header) const {
        std::vector<int> all = bits_;
        all.push_back(1);
        while (all.size() % 8 != 0) {
            all.push_back(0);
        }
        Bytes out = {header};
        for (size_t i = 0; i < all.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t j = 0; j < 8; ++j) {
                byte = static_cast<uint8_t>(byte << 1 | all[i + j]);
            }
            out.push_back(byte);
        }
        return out;
    }

private:
    std::vector<int> bits_;
};

struct SpsFields {
    uint32_t profile = 66;
    uint32_t level = 30;
    uint32_t lumaDepthMinus8 = 0;
    uint32_t widthInMacroblocks = 20;
    uint32_t heightInMacroblocks = 15;
    bool frameMacroblocksOnly = true;
    uint32_t cropRight = 0;  // in chroma units of 2 pixels
    uint32_t cropBottom = 0;
};

Bytes makeSps(const SpsFields& fields) {
    BitWriter w;
    w.bits(fields.profile, 8);
    w.bits(0, 8);  // constraint flags
    w.bits(fields.level, 8);
    w.ue(0);  // seq_parameter_set_id
    if (fields.profile == 110) {
        w.ue(1);  // 4:2:0
        w.ue(fields.lumaDepthMinus8);
        w.ue(fields.lumaDepthMinus8);
        w.bits(0, 1);  // transform bypass
        w.bits(0, 1);  // no scaling matrices
    }
    w.ue(0);  // log2_max_frame_num_minus4
    w.ue(2);  // pic_order_cnt_type
    w.ue(1);  // max_num_ref_frames
    w.bits(0, 1);
    w.ue(fields.widthInMacroblocks - 1);
    w.ue(fields.heightInMacroblocks - 1);
    w.bits(fields.frameMacroblocksOnly ? 1 : 0, 1);
    if (!fields.frameMacroblocksOnly) {
        w.bits(0, 1);
    }
    w.bits(1, 1);  // direct_8x8_inference_flag
    const bool crop = fields.cropRight != 0 || fields.cropBottom != 0;
    w.bits(crop ? 1 : 0, 1);
    if (crop) {
        w.ue(0);
        w.ue(fields.cropRight);
        w.ue(0);
        w.ue(fields.cropBottom);
    }
    w.bits(0, 1);  // no VUI
    return w.unit(0x67);
}

const Bytes kPps = {0x68, 0xCE, 0x38, 0x80};

TEST(H264FormatDescription, PictureSizeIsTheCroppedSizeOfTheSequenceSet) {
    SpsFields fields;
    fields.cropRight = 4;
    fields.cropBottom = 3;
    const auto format = H264FormatDescription::create(makeSps(fields), kPps);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width(), 320 - 8);
    EXPECT_EQ(format->height(), 240 - 6);
}

TEST(H264FormatDescription, EmulationPreventionBytesAreSkipped) {
    SpsFields fields;
    fields.level = 0;  // the unit starts 67 42 00 00: a 03 after the two zeros is not data
    Bytes escaped = makeSps(fields);
    ASSERT_EQ(escaped[2], 0);
    ASSERT_EQ(escaped[3], 0);
    escaped.insert(escaped.begin() + 4, 0x03);
    const auto format = H264FormatDescription::create(escaped, kPps);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width(), 320);
    EXPECT_EQ(format->height(), 240);
}

TEST(H264FormatDescription, RefusesWhatItCannotDecodeWhole) {
    const Bytes good = makeSps({});
    ASSERT_TRUE(H264FormatDescription::create(good, kPps));

    EXPECT_FALSE(H264FormatDescription::create(kPps, good)) << "sets swapped";
    EXPECT_FALSE(H264FormatDescription::create(good, {})) << "no picture set";
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(H264FormatDescription::create(ByteView(good).first(length), kPps))
            << "cut to " << length << " bytes";
    }

    SpsFields interlaced;
    interlaced.frameMacroblocksOnly = false;
    EXPECT_FALSE(H264FormatDescription::create(makeSps(interlaced), kPps));

    SpsFields tenBit;
    tenBit.profile = 110;
    tenBit.lumaDepthMinus8 = 2;
    EXPECT_FALSE(H264FormatDescription::create(makeSps(tenBit), kPps));

    SpsFields huge;
    huge.widthInMacroblocks = 256;  // 4096 x 4096 pixels: more macroblocks than allowed
    huge.heightInMacroblocks = 256;
    EXPECT_FALSE(H264FormatDescription::create(makeSps(huge), kPps));
    huge.heightInMacroblocks = 144;  // 4096 x 2304
    EXPECT_TRUE(H264FormatDescription::create(makeSps(huge), kPps));

    SpsFields croppedAway;
    croppedAway.cropRight = 160;  // the whole width
    EXPECT_FALSE(H264FormatDescription::create(makeSps(croppedAway), kPps));
}

}  // namespace
}  // namespace vistamo
