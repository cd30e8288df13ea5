#include "settings/ClipSettings.h"

#include <sys/stat.h>

#include <charconv>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Utf8.h"
#include "settings/Folders.h"

namespace vistamo {

namespace {

constexpr const char* kFileName = "clips.conf";
constexpr size_t kMaxFileBytes = 64 * 1024;
constexpr mode_t kFileMode = S_IRUSR | S_IWUSR;

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

std::optional<std::filesystem::path> settingsPath() {
    if (const auto library = libraryFolder()) {
        return *library / kAppFolderName / kFileName;
    }
    return std::nullopt;
}

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
    const auto path = settingsPath();
    if (!path) {
        return {};
    }
    std::error_code missing;
    if (!std::filesystem::exists(*path, missing)) {
        return {};
    }
    Error error;
    const auto data = readWholeFile(*path, kMaxFileBytes, &error);
    if (!data) {
        logLine(std::string("ignoring ") + kFileName + ": " + error.reason + ": " +
                error.description);
        return {};
    }
    std::string fault;
    const auto settings = parseClipSettings(textOf(*data), &fault);
    if (!settings) {
        logLine(std::string("ignoring ") + kFileName + ": " + fault);
        return {};
    }
    return *settings;
}

bool saveClipSettings(const ClipSettings& settings) {
    const auto path = settingsPath();
    if (!path) {
        logLine(std::string(kFileName) + " not saved: no Library folder");
        return false;
    }
    std::error_code ignored;
    std::filesystem::create_directories(path->parent_path(), ignored);
    Error error;
    if (!writeFileAtomically(*path, bytesOf(clipSettingsText(settings)), kFileMode, &error)) {
        logLine(std::string(kFileName) + " not saved: " + error.reason + ": " + error.description);
        return false;
    }
    return true;
}

}  // namespace vistamo
