#include "media/RecordedSample.h"

namespace vistamo {

RecordedSample RecordedSample::picture(const std::vector<ByteView>& units, bool keyFrame,
                                       std::optional<double> cameraSeconds, double arrivalSeconds,
                                       std::shared_ptr<const H264ParameterSets> format) {
    constexpr size_t kPrefixBytes = 4;
    RecordedSample sample;
    sample.kind = Kind::video;
    sample.arrivalSeconds = arrivalSeconds;
    sample.cameraSeconds = cameraSeconds;
    sample.reference = false;
    for (const ByteView unit : units) {
        if (unit.size() <= kPrefixBytes) {
            continue;
        }
        const ByteView nal = unit.subspan(kPrefixBytes);
        const auto length = static_cast<uint32_t>(nal.size());
        sample.data.push_back(static_cast<uint8_t>(length >> 24));
        sample.data.push_back(static_cast<uint8_t>(length >> 16));
        sample.data.push_back(static_cast<uint8_t>(length >> 8));
        sample.data.push_back(static_cast<uint8_t>(length));
        sample.data.insert(sample.data.end(), nal.begin(), nal.end());
        sample.reference = sample.reference || (nal[0] & 0x60) != 0;
    }
    // A key frame before any parameter sets cannot begin a file or a stream.
    sample.keyFrame = keyFrame && format != nullptr;
    if (sample.keyFrame) {
        sample.format = std::move(format);
    }
    return sample;
}

}  // namespace vistamo
