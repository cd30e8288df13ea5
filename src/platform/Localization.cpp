#include "platform/Localization.h"

#include "platform/AtomicFile.h"
#include "platform/Resources.h"

namespace vistamo {

namespace {

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n') {
                out += '\n';
                ++i;
                continue;
            }
            if (next == '\\') {
                out += '\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

const std::map<std::string, std::string, std::less<>>& table() {
    static const auto entries = [] {
        const auto bytes = readWholeFile(resourcePath("en.strings"), 1 << 20);
        if (!bytes) {
            return std::map<std::string, std::string, std::less<>>{};
        }
        return parseStringsTable(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }();
    return entries;
}

}  // namespace

std::map<std::string, std::string, std::less<>> parseStringsTable(std::string_view text) {
    std::map<std::string, std::string, std::less<>> entries;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const size_t separator = line.find(" = ");
        if (separator == std::string_view::npos || separator == 0) {
            continue;
        }
        entries.insert_or_assign(std::string(line.substr(0, separator)),
                                 unescape(line.substr(separator + 3)));
    }
    return entries;
}

std::string localizedString(std::string_view key, std::string_view defaultText) {
    const auto& entries = table();
    const auto found = entries.find(key);
    if (found != entries.end()) {
        return found->second;
    }
    return std::string(defaultText.empty() ? key : defaultText);
}

}  // namespace vistamo
