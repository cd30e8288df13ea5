#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vistamo {

// What a motion alarm records: whether it records a clip at all, how long the clip runs after
// the last alarm and how much before the alarm it begins. Kept in a file of its own,
// "clips.conf" in the settings folder, as lines "key = value":
//
//   record-clip = yes|no
//   seconds-after = 1..3600
//   seconds-before = 0..60
//
// Blank lines and lines starting with "#" are skipped; unknown keys are skipped so that a
// later version's file still reads; a key given twice takes its last value.
struct ClipSettings {
    static constexpr int kMaxSecondsAfter = 3600;
    static constexpr int kMaxSecondsBefore = 60;

    bool recordClip = false;
    int secondsAfter = 20;
    int secondsBefore = 5;

    bool operator==(const ClipSettings&) const = default;
};

// The settings in `text`; none, with the line and its fault in `*fault`, when a line is not
// "key = value", a known key's value is not one it takes, or the text is not UTF-8.
std::optional<ClipSettings> parseClipSettings(std::string_view text, std::string* fault = nullptr);

std::string clipSettingsText(const ClipSettings& settings);

// The saved settings; the defaults when there are none, and (with a log line) when the file
// cannot be read or is malformed.
ClipSettings loadClipSettings();

// Writes the file atomically, readable by its owner only; false (logged) on failure.
bool saveClipSettings(const ClipSettings& settings);

}  // namespace vistamo
