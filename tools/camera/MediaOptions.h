#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TestPattern.h"

namespace vistamo::camera {

// What the camera streams to a client that asked for it. Set once in main before anything runs.
struct MediaOptions {
    // The moving test picture: even sizes, large enough for the frame-number row (TestPattern.h).
    int width = 320;
    int height = 240;
    int framesPerSecond = 25;
    // Pictures from one key frame to the next; at most 25, so that a viewer's reorder ring of
    // 25 pictures always sees parameter sets within reach.
    int gopFrames = 25;
    // One non-reference B picture between reference pictures.
    bool bFrames = false;
    // Every picture as two slices, each in its own 102 with `details` 1.
    bool twoSlices = false;
    double toneHz = 440;
    bool audio = true;
    bool video = true;
    // Empty: the client's intercom audio is decoded and counted, not kept.
    std::string intercomWavPath;
    // Above 0: this many seconds (rounded up to whole key-frame groups) are encoded once at
    // start and streamed over and over, so that the camera's own encoding costs nothing.
    int loopSeconds = 0;
};

inline constexpr int kMinPictureWidth = TestPattern::kMinWidth;
inline constexpr int kMinPictureHeight = TestPattern::kMinHeight;
inline constexpr int kMaxPictureWidth = 3840;
inline constexpr int kMaxPictureHeight = 2160;
inline constexpr int kMaxFramesPerSecond = 60;
inline constexpr int kMaxGopFrames = 25;
inline constexpr double kMinToneHz = 20;
inline constexpr double kMaxToneHz = 20000;
inline constexpr int kMaxLoopSeconds = 60;

// The media options without a value (--bframes, --two-slices, --no-audio, --no-video).
bool isMediaFlag(std::string_view option);
void applyMediaFlag(MediaOptions& options, std::string_view option);

// The media options with a value (--size, --fps, --gop, --tone, --intercom-wav, --loop). Applying
// one returns an error text for people, or none when the value was fine.
bool isMediaValueOption(std::string_view option);
std::optional<std::string> applyMediaValue(MediaOptions& options, std::string_view option,
                                           const std::string& value);

}  // namespace vistamo::camera
