#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vistamo {

// A camera's name as it may stand in a file name: no "/", no control characters, no leading
// "." (a hidden file) or "-" (an option to a command) and at most 200 bytes, cut between UTF-8
// characters; "camera" when nothing is left.
std::string safeCameraFileName(std::string_view cameraName);

// "<camera name> YYYY-MM-DD HH-MM-SS.mp4" for `when` in the local time zone.
std::string clipFileName(std::string_view cameraName, std::time_t when);

// "vistamo+" in the user's Videos folder; none without one.
std::optional<std::filesystem::path> clipFolder();

// `folder/name`, or with " 2", " 3", ... before the extension when that name, or its ".part"
// file, is taken.
std::filesystem::path unusedClipPath(const std::filesystem::path& folder, const std::string& name);

}  // namespace vistamo
