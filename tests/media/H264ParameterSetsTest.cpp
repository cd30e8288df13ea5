// Which parameter sets make a format description, and the picture size read from them.
#include "media/H264ParameterSets.h"

#include <gtest/gtest.h>

#include <bit>
#include <optional>

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
        const int length = std::bit_width(value + 1) - 1;
        bits(0, length);
        bits(value + 1, length + 1);
    }
    // The bits with the stop bit, packed into bytes after `header`.
    Bytes unit(uint8_t header) const {
        Bytes out = {header};
        std::vector<int> all = bits_;
        all.push_back(1);
        all.resize((all.size() + 7) / 8 * 8, 0);
        for (size_t i = 0; i < all.size(); ++i) {
            if (i % 8 == 0) {
                out.push_back(0);
            }
            out.back() = static_cast<uint8_t>(out.back() << 1 | all[i]);
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
    // A VUI with an extended aspect ratio, colour description, timing and NAL HRD fields, and a
    // bitstream restriction carrying this max_num_reorder_frames when set.
    bool vui = false;
    std::optional<uint32_t> reorder = std::nullopt;
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
    w.bits(fields.vui ? 1 : 0, 1);
    if (fields.vui) {
        w.bits(1, 1);
        w.bits(255, 8);  // extended sample aspect ratio
        w.bits(0xABCD1234, 32);
        w.bits(0, 1);  // no overscan info
        w.bits(1, 1);
        w.bits(5, 4);  // video format, full range
        w.bits(1, 1);
        w.bits(0x010101, 24);  // colour description
        w.bits(0, 1);          // no chroma location
        w.bits(1, 1);
        w.bits(1, 32);  // num_units_in_tick
        w.bits(60, 32);
        w.bits(1, 1);  // fixed frame rate
        w.bits(1, 1);  // NAL HRD
        w.ue(1);       // two CPB specifications
        w.bits(0x44, 8);
        for (int i = 0; i < 2; ++i) {
            w.ue(1000 + i);
            w.ue(2000 + i);
            w.bits(i, 1);
        }
        w.bits(0xFFFFF, 20);
        w.bits(0, 1);  // no VCL HRD
        w.bits(0, 1);  // low_delay_hrd_flag
        w.bits(0, 1);  // no pic_struct
        w.bits(fields.reorder ? 1 : 0, 1);
        if (fields.reorder) {
            w.bits(1, 1);
            w.ue(2);
            w.ue(1);
            w.ue(16);
            w.ue(16);
            w.ue(*fields.reorder);
            w.ue(*fields.reorder + 1);
        }
    }
    return w.unit(0x67);
}

const Bytes kPps = {0x68, 0xCE, 0x38, 0x80};

TEST(H264ParameterSets, PictureSizeIsTheCroppedSizeAndEscapesAreSkipped) {
    const auto cropped =
        H264ParameterSets::create(makeSps({.cropRight = 4, .cropBottom = 3}), kPps);
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->width(), 320 - 8);
    EXPECT_EQ(cropped->height(), 240 - 6);

    // The unit starts 67 42 00 00: a 03 after the two zeros is not data.
    Bytes escaped = makeSps({.level = 0});
    ASSERT_EQ(escaped[2], 0);
    ASSERT_EQ(escaped[3], 0);
    escaped.insert(escaped.begin() + 4, 0x03);
    const auto format = H264ParameterSets::create(escaped, kPps);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width(), 320);
    EXPECT_EQ(format->height(), 240);
}

TEST(H264ParameterSets, RefusesWhatItCannotDecodeWhole) {
    const Bytes good = makeSps({});
    ASSERT_TRUE(H264ParameterSets::create(good, kPps));

    EXPECT_FALSE(H264ParameterSets::create(kPps, good)) << "sets swapped";
    EXPECT_FALSE(H264ParameterSets::create(good, {})) << "no picture set";
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(H264ParameterSets::create(ByteView(good).first(length), kPps))
            << "cut to " << length << " bytes";
    }

    EXPECT_FALSE(H264ParameterSets::create(makeSps({.frameMacroblocksOnly = false}), kPps));
    EXPECT_FALSE(H264ParameterSets::create(makeSps({.profile = 110, .lumaDepthMinus8 = 2}), kPps));
    // 4096 x 4096 pixels: more macroblocks than allowed; 4096 x 2304 fits.
    EXPECT_FALSE(H264ParameterSets::create(
        makeSps({.widthInMacroblocks = 256, .heightInMacroblocks = 256}), kPps));
    EXPECT_TRUE(H264ParameterSets::create(
        makeSps({.widthInMacroblocks = 256, .heightInMacroblocks = 144}), kPps));
    // Cropped to nothing.
    EXPECT_FALSE(H264ParameterSets::create(makeSps({.cropRight = 160}), kPps));
}

TEST(H264ParameterSets, ReorderDepthComesFromTheVuiWhenItCarriesIt) {
    for (const uint32_t reorder : {0u, 1u, 2u}) {
        const auto format =
            H264ParameterSets::create(makeSps({.vui = true, .reorder = reorder}), kPps);
        ASSERT_TRUE(format);
        EXPECT_EQ(format->maxReorderFrames(), reorder);
    }
    const auto plain = H264ParameterSets::create(makeSps({}), kPps);
    const auto unrestricted = H264ParameterSets::create(makeSps({.vui = true}), kPps);
    ASSERT_TRUE(plain && unrestricted);
    EXPECT_FALSE(plain->maxReorderFrames());
    EXPECT_FALSE(unrestricted->maxReorderFrames());

    // A VUI cut short leaves the picture size, without a reorder depth.
    const Bytes whole = makeSps({.vui = true, .reorder = 1});
    const Bytes cut(whole.begin(), whole.end() - 3);
    const auto format = H264ParameterSets::create(cut, kPps);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->width(), 320);
    EXPECT_FALSE(format->maxReorderFrames());
}

}  // namespace
}  // namespace vistamo
