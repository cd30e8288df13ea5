#include "MediaOptions.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace vistamo::camera {

namespace {

std::optional<int> parseInt(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool isMediaFlag(std::string_view option) {
    return option == "--bframes" || option == "--two-slices" || option == "--no-audio" ||
           option == "--no-video";
}

void applyMediaFlag(MediaOptions& options, std::string_view option) {
    if (option == "--bframes") {
        options.bFrames = true;
    } else if (option == "--two-slices") {
        options.twoSlices = true;
    } else if (option == "--no-audio") {
        options.audio = false;
    } else if (option == "--no-video") {
        options.video = false;
    }
}

bool isMediaValueOption(std::string_view option) {
    return option == "--size" || option == "--fps" || option == "--gop" || option == "--tone" ||
           option == "--intercom-wav" || option == "--loop";
}

std::optional<std::string> applyMediaValue(MediaOptions& options, std::string_view option,
                                           const std::string& value) {
    if (option == "--size") {
        const size_t x = value.find('x');
        const std::string_view text = value;
        const auto width = x == std::string::npos
                               ? std::nullopt
                               : parseInt(text.substr(0, x), kMinPictureWidth, kMaxPictureWidth);
        const auto height = x == std::string::npos ? std::nullopt
                                                   : parseInt(text.substr(x + 1), kMinPictureHeight,
                                                              kMaxPictureHeight);
        if (!width || !height || *width % 2 != 0 || *height % 2 != 0) {
            return "--size needs WIDTHxHEIGHT, even numbers from 192x32 to 3840x2160, not '" +
                   value + "'";
        }
        options.width = *width;
        options.height = *height;
    } else if (option == "--fps") {
        const auto fps = parseInt(value, 1, kMaxFramesPerSecond);
        if (!fps) {
            return "--fps needs a number from 1 to 60, not '" + value + "'";
        }
        options.framesPerSecond = *fps;
    } else if (option == "--gop") {
        const auto gop = parseInt(value, 1, kMaxGopFrames);
        if (!gop) {
            return "--gop needs a number from 1 to 25, not '" + value + "'";
        }
        options.gopFrames = *gop;
    } else if (option == "--tone") {
        double hz = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), hz);
        if (error != std::errc() || end != value.data() + value.size() || value.empty() ||
            !std::isfinite(hz) || hz < kMinToneHz || hz > kMaxToneHz) {
            return "--tone needs a frequency from 20 to 20000 Hz, not '" + value + "'";
        }
        options.toneHz = hz;
    } else if (option == "--intercom-wav") {
        if (value.empty()) {
            return "--intercom-wav needs a file name";
        }
        options.intercomWavPath = value;
    } else if (option == "--loop") {
        const auto seconds = parseInt(value, 1, kMaxLoopSeconds);
        if (!seconds) {
            return "--loop needs a number of seconds from 1 to 60, not '" + value + "'";
        }
        options.loopSeconds = *seconds;
    }
    return std::nullopt;
}

}  // namespace vistamo::camera
