#include "media/H264ParameterSets.h"

#include <optional>

namespace vistamo {

namespace {

constexpr int kNalSps = 7;
constexpr int kNalPps = 8;
constexpr size_t kMaxSetBytes = 0xFFFF;  // the record stores each length in 16 bits

// Reads the bits of a NAL unit's payload with emulation prevention bytes removed. Reading past
// the end sets `failed` and yields zeros, so a parser checks once at the end of a field group.
class BitReader {
public:
    explicit BitReader(ByteView escaped) {
        rbsp_.reserve(escaped.size());
        int zeros = 0;
        for (uint8_t byte : escaped) {
            if (zeros >= 2 && byte == 3) {
                zeros = 0;
                continue;
            }
            zeros = byte == 0 ? zeros + 1 : 0;
            rbsp_.push_back(byte);
        }
    }

    bool failed() const { return failed_; }

    uint32_t bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 1) | bit();
        }
        return value;
    }

    bool flag() { return bit() != 0; }

    // ue(v); values past 32 bits fail.
    uint32_t unsignedGolomb() {
        int zeros = 0;
        while (bit() == 0) {
            if (failed_ || ++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
    }

    // se(v)
    int64_t signedGolomb() {
        const uint32_t code = unsignedGolomb();
        const int64_t magnitude = (int64_t{code} + 1) / 2;
        return code % 2 == 1 ? magnitude : -magnitude;
    }

    // ue(v) that must not exceed `limit`.
    std::optional<uint32_t> unsignedGolombAtMost(uint32_t limit) {
        const uint32_t value = unsignedGolomb();
        if (failed_ || value > limit) {
            failed_ = true;
            return std::nullopt;
        }
        return value;
    }

private:
    uint32_t bit() {
        if (position_ >= rbsp_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const uint32_t value = (rbsp_[position_ / 8] >> (7 - position_ % 8)) & 1;
        ++position_;
        return value;
    }

    Bytes rbsp_;
    size_t position_ = 0;
    bool failed_ = false;
};

bool hasChromaFields(uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

bool skipScalingList(BitReader& reader, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            const int64_t delta = reader.signedGolomb();
            if (reader.failed() || delta < -128 || delta > 127) {
                return false;
            }
            next = static_cast<int>((last + delta + 256) % 256);
        }
        last = next == 0 ? last : next;
    }
    return true;
}

struct SequenceFacts {
    int32_t width;
    int32_t height;
    std::optional<uint32_t> maxReorderFrames;
};

// hrd_parameters(), skipped; false when cut short or out of range.
bool skipHrdParameters(BitReader& reader) {
    const auto count = reader.unsignedGolombAtMost(31);  // cpb_cnt_minus1
    if (!count) {
        return false;
    }
    reader.bits(8);  // bit_rate_scale, cpb_size_scale
    for (uint32_t i = 0; i <= *count; ++i) {
        reader.unsignedGolomb();  // bit_rate_value_minus1
        reader.unsignedGolomb();  // cpb_size_value_minus1
        reader.flag();            // cbr_flag
    }
    reader.bits(20);  // four delay and offset lengths
    return !reader.failed();
}

// The VUI's max_num_reorder_frames when it carries a bitstream restriction; none when it does
// not or when the VUI is malformed (the picture size stands without it).
std::optional<uint32_t> readReorderFrames(BitReader& reader) {
    if (reader.flag() && reader.bits(8) == 255) {  // aspect_ratio_info, extended SAR
        reader.bits(32);
    }
    if (reader.flag()) {  // overscan_info_present_flag
        reader.flag();
    }
    if (reader.flag()) {  // video_signal_type_present_flag
        reader.bits(4);
        if (reader.flag()) {  // colour_description_present_flag
            reader.bits(24);
        }
    }
    if (reader.flag()) {  // chroma_loc_info_present_flag
        reader.unsignedGolomb();
        reader.unsignedGolomb();
    }
    if (reader.flag()) {  // timing_info_present_flag
        reader.bits(32);
        reader.bits(32);
        reader.flag();
    }
    const bool nalHrd = reader.flag();
    if (nalHrd && !skipHrdParameters(reader)) {
        return std::nullopt;
    }
    const bool vclHrd = reader.flag();
    if (vclHrd && !skipHrdParameters(reader)) {
        return std::nullopt;
    }
    if (nalHrd || vclHrd) {
        reader.flag();  // low_delay_hrd_flag
    }
    reader.flag();  // pic_struct_present_flag
    if (reader.failed() || !reader.flag()) {
        return std::nullopt;  // no bitstream_restriction
    }
    reader.flag();  // motion_vectors_over_pic_boundaries_flag
    for (int i = 0; i < 4; ++i) {
        reader.unsignedGolomb();  // byte and bit limits, motion vector lengths
    }
    const auto reorder = reader.unsignedGolombAtMost(16);
    if (!reorder || !reader.unsignedGolombAtMost(16)) {  // max_dec_frame_buffering
        return std::nullopt;
    }
    return reorder;
}

// The fields of a sequence parameter set up to its cropping window, and the reorder depth from
// its VUI (the NAL unit header byte excluded).
std::optional<SequenceFacts> readSequenceSet(ByteView payload) {
    BitReader reader(payload);
    const uint32_t profile = reader.bits(8);
    reader.bits(16);  // constraint flags, level
    if (!reader.unsignedGolombAtMost(31)) {
        return std::nullopt;
    }
    uint32_t chromaFormat = 1;
    bool separatePlanes = false;
    if (hasChromaFields(profile)) {
        const auto format = reader.unsignedGolombAtMost(3);
        if (!format) {
            return std::nullopt;
        }
        chromaFormat = *format;
        if (chromaFormat == 3) {
            separatePlanes = reader.flag();
        }
        const auto lumaDepth = reader.unsignedGolombAtMost(6);
        const auto chromaDepth = reader.unsignedGolombAtMost(6);
        if (!lumaDepth || !chromaDepth || *lumaDepth != 0 || *chromaDepth != 0) {
            return std::nullopt;  // only 8-bit samples
        }
        reader.flag();  // qpprime_y_zero_transform_bypass_flag
        if (reader.flag()) {
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i) {
                if (reader.flag() && !skipScalingList(reader, i < 6 ? 16 : 64)) {
                    return std::nullopt;
                }
            }
        }
    }
    if (!reader.unsignedGolombAtMost(12)) {  // log2_max_frame_num_minus4
        return std::nullopt;
    }
    const auto orderType = reader.unsignedGolombAtMost(2);
    if (!orderType) {
        return std::nullopt;
    }
    if (*orderType == 0) {
        if (!reader.unsignedGolombAtMost(12)) {
            return std::nullopt;
        }
    } else if (*orderType == 1) {
        reader.flag();
        reader.signedGolomb();
        reader.signedGolomb();
        const auto cycle = reader.unsignedGolombAtMost(255);
        if (!cycle) {
            return std::nullopt;
        }
        for (uint32_t i = 0; i < *cycle; ++i) {
            reader.signedGolomb();
        }
    }
    if (!reader.unsignedGolombAtMost(16)) {  // max_num_ref_frames
        return std::nullopt;
    }
    reader.flag();  // gaps_in_frame_num_value_allowed_flag
    const int64_t widthInMacroblocks = int64_t{reader.unsignedGolomb()} + 1;
    const int64_t heightInMapUnits = int64_t{reader.unsignedGolomb()} + 1;
    const bool frameMacroblocksOnly = reader.flag();
    if (reader.failed() || !frameMacroblocksOnly) {
        return std::nullopt;  // field-coded pictures may come as one field per sample
    }
    reader.flag();  // direct_8x8_inference_flag
    int64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (reader.flag()) {
        cropLeft = reader.unsignedGolomb();
        cropRight = reader.unsignedGolomb();
        cropTop = reader.unsignedGolomb();
        cropBottom = reader.unsignedGolomb();
    }
    if (reader.failed() ||
        widthInMacroblocks * heightInMapUnits > H264ParameterSets::kMaxMacroblocks) {
        return std::nullopt;
    }
    const uint32_t arrayType = separatePlanes ? 0 : chromaFormat;
    const int64_t cropUnitX = arrayType == 1 || arrayType == 2 ? 2 : 1;
    const int64_t cropUnitY = arrayType == 1 ? 2 : 1;
    const int64_t width = widthInMacroblocks * 16 - cropUnitX * (cropLeft + cropRight);
    const int64_t height = heightInMapUnits * 16 - cropUnitY * (cropTop + cropBottom);
    if (width <= 0 || height <= 0 || width > H264ParameterSets::kMaxSidePixels ||
        height > H264ParameterSets::kMaxSidePixels) {
        return std::nullopt;
    }
    std::optional<uint32_t> reorder;
    if (reader.flag()) {  // vui_parameters_present_flag
        reorder = readReorderFrames(reader);
    }
    return SequenceFacts{static_cast<int32_t>(width), static_cast<int32_t>(height), reorder};
}

void appendSet(Bytes& record, ByteView set) {
    record.push_back(static_cast<uint8_t>(set.size() >> 8));
    record.push_back(static_cast<uint8_t>(set.size()));
    record.insert(record.end(), set.begin(), set.end());
}

}  // namespace

std::shared_ptr<const H264ParameterSets> H264ParameterSets::create(ByteView sps, ByteView pps) {
    // A sequence set holds at least its header, profile, constraint flags and level.
    if (sps.size() < 4 || sps.size() > kMaxSetBytes || pps.empty() || pps.size() > kMaxSetBytes ||
        (sps[0] & 0x1f) != kNalSps || (pps[0] & 0x1f) != kNalPps) {
        return nullptr;
    }
    const auto facts = readSequenceSet(sps.subspan(1));
    if (!facts) {
        return nullptr;
    }
    Bytes record = {
        1,       // configurationVersion
        sps[1],  // profile, constraint flags and level as the sequence set gives them
        sps[2], sps[3],
        0xFF,  // six reserved bits, lengthSizeMinusOne = 3
        0xE1,  // three reserved bits, one sequence set
    };
    appendSet(record, sps);
    record.push_back(1);  // one picture set
    appendSet(record, pps);
    return std::make_shared<const H264ParameterSets>(Key(), facts->width, facts->height,
                                                     facts->maxReorderFrames, std::move(record));
}

H264ParameterSets::H264ParameterSets(Key, int32_t width, int32_t height,
                                     std::optional<uint32_t> maxReorderFrames, Bytes avcC)
    : width_(width), height_(height), maxReorderFrames_(maxReorderFrames), avcC_(std::move(avcC)) {}

}  // namespace vistamo
