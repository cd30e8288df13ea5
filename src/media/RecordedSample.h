#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "media/H264ParameterSets.h"
#include "platform/Bytes.h"

namespace vistamo {

// One picture or one sound packet as a camera sent it, on its way into a recording.
struct RecordedSample {
    enum class Kind { video, audio };
    Kind kind = Kind::video;
    // Video: the picture's NAL units, each with a 4-byte big-endian length (as a track sample
    // holds them). Audio: one Opus packet (48 kHz, one channel).
    Bytes data;
    // Video only: an IDR picture, and whether any of its units is referenced by other pictures
    // (a non-reference picture is shown before the reference picture that precedes it).
    bool keyFrame = false;
    bool reference = true;
    // When the recorder received it, in seconds on its clock.
    double arrivalSeconds = 0;
    // Video only: the camera's presentation time of the picture, when it sent one.
    std::optional<double> cameraSeconds;
    // Key frames only: the parameter sets in force.
    std::shared_ptr<const H264ParameterSets> format;

    size_t cost() const { return data.size() + sizeof(RecordedSample); }

    // A picture from a camera's NAL units, each with its 4-byte prefix (as a session hands
    // them on), received at `arrivalSeconds`; its data is empty when no unit holds anything.
    // A key frame carries `format`, and without one is none.
    static RecordedSample picture(const std::vector<ByteView>& units, bool keyFrame,
                                  std::optional<double> cameraSeconds, double arrivalSeconds,
                                  std::shared_ptr<const H264ParameterSets> format);
};

}  // namespace vistamo
