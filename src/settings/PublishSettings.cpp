#include "settings/PublishSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/Log.h"
#include "settings/SettingsFile.h"

namespace vistamo {

namespace {

const SettingsFile kPublishingFile{PublishSettings::FILE_NAME, "publishing settings",
                                   PublishSettings::kMaxFileBytes};

constexpr std::string_view kScheme = "rtsp://";

bool printableWithoutBlanks(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
}

bool validIdentity(std::string_view identity) {
    return !identity.empty() && identity.size() <= PublishSettings::kMaxIdentityBytes &&
           printableWithoutBlanks(identity);
}

bool validHostName(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
    });
}

bool validIpv6(std::string_view host) {
    return host.size() >= 2 && std::all_of(host.begin(), host.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
           });
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

}  // namespace

std::optional<PublishAddress> PublishAddress::parse(std::string_view text, std::string* fault) {
    auto failed = [&](const char* why) -> std::optional<PublishAddress> {
        if (fault != nullptr) {
            *fault = why;
        }
        return std::nullopt;
    };
    if (text.empty()) {
        return failed("Type the server's address, such as rtsp://server:8554/camera.");
    }
    if (text.size() > kMaxBytes) {
        return failed("The address is too long.");
    }
    if (!printableWithoutBlanks(text)) {
        return failed("The address may not contain blanks or characters other than ASCII.");
    }
    std::string scheme(text.substr(0, std::min(text.size(), kScheme.size())));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != kScheme) {
        return failed("The address must begin with rtsp://.");
    }
    std::string_view rest = text.substr(kScheme.size());
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view path =
        slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    PublishAddress address;
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        const size_t colon = credentials.find(':');
        address.user = std::string(credentials.substr(0, colon));
        if (colon != std::string_view::npos) {
            address.password = std::string(credentials.substr(colon + 1));
        }
        if (address.user.empty()) {
            return failed("The user name before the password is missing.");
        }
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos || !validIpv6(authority.substr(1, close - 1))) {
            return failed("The IPv6 address in brackets is not valid.");
        }
        host = authority.substr(0, close + 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return failed("The server's name is not valid.");
            }
            port = after.substr(1);
            if (port.empty()) {
                return failed("The port must be a number from 1 to 65535.");
            }
        }
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (port.empty()) {
                return failed("The port must be a number from 1 to 65535.");
            }
        }
        if (host.empty()) {
            return failed("The address has no server name.");
        }
        if (!validHostName(host)) {
            return failed("The server's name is not valid.");
        }
    }
    if (!port.empty()) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            return failed("The port must be a number from 1 to 65535.");
        }
        address.port = static_cast<uint16_t>(value);
    }
    if (path.empty()) {
        return failed("The address needs the stream's path after the server, such as /camera.");
    }
    if (path.find_first_of("?#") != std::string_view::npos) {
        return failed("The path may not contain ? or #.");
    }
    address.host = std::string(host);
    address.path = std::string(path);
    return address;
}

std::string PublishAddress::url() const {
    std::string text(kScheme);
    if (!user.empty()) {
        text += user;
        if (!password.empty()) {
            text += ':' + password;
        }
        text += '@';
    }
    return text + shown();
}

std::string PublishAddress::shown() const {
    std::string text = host;
    if (port) {
        text += ':' + std::to_string(*port);
    }
    return text + '/' + path;
}

PublishSettings PublishSettings::parse(std::string_view text) {
    PublishSettings settings;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::string_view identity = nextWord(line);
        const std::string_view state = nextWord(line);
        const std::string_view address = nextWord(line);
        if (!nextWord(line).empty() || (state != "yes" && state != "no")) {
            continue;
        }
        settings.set(std::string(identity), PublishSetting{std::string(address), state == "yes"});
    }
    return settings;
}

std::string PublishSettings::text() const {
    std::string text;
    for (const auto& [identity, setting] : entries_) {
        text += identity + (setting.publishing ? " yes " : " no ") + setting.address + '\n';
    }
    return text;
}

PublishSettings PublishSettings::load() {
    const auto text = kPublishingFile.read();
    return text ? parse(*text) : PublishSettings{};
}

bool PublishSettings::save() const { return kPublishingFile.write(text()); }

std::optional<PublishSetting> PublishSettings::settingFor(std::string_view identity) const {
    for (const auto& [known, setting] : entries_) {
        if (known == identity) {
            return setting;
        }
    }
    return std::nullopt;
}

void PublishSettings::set(const std::string& identity, const PublishSetting& setting) {
    if (!validIdentity(identity) || !PublishAddress::parse(setting.address)) {
        return;
    }
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == identity; });
    entries_.emplace_back(identity, setting);
    if (entries_.size() > kMaxEntries) {
        entries_.erase(entries_.begin());
    }
}

}  // namespace vistamo
