#include "settings/WindowPlaces.h"

#include <algorithm>
#include <charconv>

#include "platform/Log.h"
#include "settings/SettingsFile.h"

namespace vistamo {

namespace {

const SettingsFile kPlacesFile{WindowPlaces::FILE_NAME, "window places",
                               WindowPlaces::kMaxFileBytes};

bool validIdentity(std::string_view identity) {
    return !identity.empty() && identity.size() <= WindowPlaces::kMaxIdentityBytes &&
           std::all_of(identity.begin(), identity.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte > 0x20 && byte != 0x7f;
           });
}

bool validFrame(const WindowFrame& frame) {
    constexpr int limit = WindowPlaces::kMaxExtent;
    return frame.x >= -limit && frame.x <= limit && frame.y >= -limit && frame.y <= limit &&
           frame.width > 0 && frame.width <= limit && frame.height > 0 && frame.height <= limit;
}

// The next blank-separated word of `line`, taken off its front.
std::string_view nextWord(std::string_view& line) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const size_t end = std::min(line.find(' '), line.size());
    const std::string_view word = line.substr(0, end);
    line.remove_prefix(end);
    return word;
}

std::optional<int> number(std::string_view word) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::pair<std::string, WindowFrame>> parseLine(std::string_view line) {
    const std::string_view identity = nextWord(line);
    if (!validIdentity(identity)) {
        return std::nullopt;
    }
    int values[4];
    for (int& value : values) {
        const auto parsed = number(nextWord(line));
        if (!parsed) {
            return std::nullopt;
        }
        value = *parsed;
    }
    if (!nextWord(line).empty()) {
        return std::nullopt;
    }
    const WindowFrame frame{values[0], values[1], values[2], values[3]};
    if (!validFrame(frame)) {
        return std::nullopt;
    }
    return std::pair{std::string(identity), frame};
}

}  // namespace

std::optional<std::string> WindowPlaces::identityFor(const std::optional<std::string>& uuid,
                                                     const std::optional<std::string>& address) {
    std::string identity;
    if (uuid && !uuid->empty()) {
        identity = "uuid:" + *uuid;
    } else if (address && !address->empty()) {
        identity = "address:" + *address;
    }
    return validIdentity(identity) ? std::optional(identity) : std::nullopt;
}

WindowPlaces WindowPlaces::parse(std::string_view text) {
    WindowPlaces places;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (auto entry = parseLine(line)) {
            places.setFrame(entry->first, entry->second);
        }
    }
    return places;
}

std::string WindowPlaces::text() const {
    std::string text;
    for (const auto& [identity, frame] : entries_) {
        text += identity + ' ' + std::to_string(frame.x) + ' ' + std::to_string(frame.y) + ' ' +
                std::to_string(frame.width) + ' ' + std::to_string(frame.height) + '\n';
    }
    return text;
}

WindowPlaces WindowPlaces::load() {
    const auto text = kPlacesFile.read();
    return text ? parse(*text) : WindowPlaces{};
}

bool WindowPlaces::save() const { return kPlacesFile.write(text()); }

std::optional<WindowFrame> WindowPlaces::frameFor(std::string_view identity) const {
    for (const auto& [known, frame] : entries_) {
        if (known == identity) {
            return frame;
        }
    }
    return std::nullopt;
}

void WindowPlaces::setFrame(const std::string& identity, const WindowFrame& frame) {
    if (!validIdentity(identity) || !validFrame(frame)) {
        return;
    }
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == identity; });
    entries_.emplace_back(identity, frame);
    if (entries_.size() > kMaxEntries) {
        entries_.erase(entries_.begin());
    }
}

}  // namespace vistamo
