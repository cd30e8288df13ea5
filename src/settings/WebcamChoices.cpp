#include "settings/WebcamChoices.h"

#include <algorithm>
#include <system_error>

#include "platform/Log.h"
#include "platform/Utf8.h"
#include "settings/SettingsFile.h"

namespace vistamo {

namespace {

constexpr const char* kFileName = "webcams.conf";
constexpr size_t kMaxFileBytes = 256 * 1024;

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

const SettingsFile kChoicesFile{kFileName, kFileName, kMaxFileBytes};

}  // namespace

bool isWebcamIdentity(std::string_view identity) {
    return !identity.empty() && identity.size() <= WebcamChoices::kMaxIdentityBytes &&
           std::all_of(identity.begin(), identity.end(), [](char c) { return c > ' ' && c < 127; });
}

std::optional<WebcamChoices> parseWebcamChoices(std::string_view text, std::string* fault) {
    auto failed = [&](int line, const std::string& why) -> std::optional<WebcamChoices> {
        if (fault != nullptr) {
            *fault = "line " + std::to_string(line) + ": " + why;
        }
        return std::nullopt;
    };
    if (!isValidUtf8(text)) {
        return failed(0, "not UTF-8 text");
    }
    WebcamChoices choices;
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
        if (trimmed(line.substr(0, equals)) != "webcam") {
            continue;
        }
        const std::string_view identity = trimmed(line.substr(equals + 1));
        if (!isWebcamIdentity(identity)) {
            return failed(lineNumber, "a camera identity is 1 to 128 printable characters");
        }
        choices.cameras.emplace(identity);
        if (choices.cameras.size() > WebcamChoices::kMaxCameras) {
            return failed(lineNumber, "more than 1000 cameras");
        }
    }
    return choices;
}

std::string webcamChoicesText(const WebcamChoices& choices) {
    std::string text;
    for (const auto& identity : choices.cameras) {
        text += "webcam = " + identity + "\n";
    }
    return text;
}

WebcamChoices loadWebcamChoices() {
    const auto text = kChoicesFile.read();
    if (!text) {
        return {};
    }
    std::string fault;
    const auto choices = parseWebcamChoices(*text, &fault);
    if (!choices) {
        logLine(std::string("ignoring ") + kChoicesFile.logName + ": " + fault);
        return {};
    }
    return *choices;
}

bool saveWebcamChoices(const WebcamChoices& choices) {
    return kChoicesFile.write(webcamChoicesText(choices));
}

}  // namespace vistamo
