#include "settings/ClipSettings.h"

#include <charconv>
#include <system_error>

#include "platform/Log.h"
#include "platform/Utf8.h"
#include "settings/SettingsFile.h"

namespace vistamo {

namespace {

constexpr const char* kFileName = "clips.conf";
constexpr size_t kMaxFileBytes = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<int> number(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

const SettingsFile kClipsFile{kFileName, kFileName, kMaxFileBytes};

}  // namespace

std::optional<ClipSettings> parseClipSettings(std::string_view text, std::string* fault) {
    auto failed = [&](int line, const std::string& why) -> std::optional<ClipSettings> {
        if (fault != nullptr) {
            *fault = "line " + std::to_string(line) + ": " + why;
        }
        return std::nullopt;
    };
    if (!isValidUtf8(text)) {
        return failed(0, "not UTF-8 text");
    }
    ClipSettings settings;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return failed(lineNumber, "not \"key = value\"");
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "record-clip") {
            if (value != "yes" && value != "no") {
                return failed(lineNumber, "record-clip is yes or no");
            }
            settings.recordClip = value == "yes";
        } else if (key == "seconds-after") {
            const auto seconds = number(value, 1, ClipSettings::kMaxSecondsAfter);
            if (!seconds) {
                return failed(lineNumber, "seconds-after is a whole number from 1 to 3600");
            }
            settings.secondsAfter = *seconds;
        } else if (key == "seconds-before") {
            const auto seconds = number(value, 0, ClipSettings::kMaxSecondsBefore);
            if (!seconds) {
                return failed(lineNumber, "seconds-before is a whole number from 0 to 60");
            }
            settings.secondsBefore = *seconds;
        }
    }
    return settings;
}

std::string clipSettingsText(const ClipSettings& settings) {
    return std::string("record-clip = ") + (settings.recordClip ? "yes" : "no") +
           "\nseconds-after = " + std::to_string(settings.secondsAfter) +
           "\nseconds-before = " + std::to_string(settings.secondsBefore) + "\n";
}

ClipSettings loadClipSettings() {
    const auto text = kClipsFile.read();
    if (!text) {
        return {};
    }
    std::string fault;
    const auto settings = parseClipSettings(*text, &fault);
    if (!settings) {
        logLine(std::string("ignoring ") + kClipsFile.logName + ": " + fault);
        return {};
    }
    return *settings;
}

bool saveClipSettings(const ClipSettings& settings) {
    return kClipsFile.write(clipSettingsText(settings));
}

}  // namespace vistamo
