#include "platform/DeviceIdentity.h"

#include <algorithm>
#include <array>

#include "platform/AtomicFile.h"

namespace vistamo {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string platformUUIDFromRegistryText(std::string_view text) {
    constexpr std::string_view kKey = "IOPlatformUUID";
    constexpr size_t kSkip = 5;  // closing quote, " = ", opening quote
    constexpr size_t kLength = 36;
    const size_t key = text.find(kKey);
    if (key == std::string_view::npos) {
        return {};
    }
    const size_t start = key + kKey.size() + kSkip;
    if (start > text.size() || text.size() - start < kLength) {
        return {};
    }
    std::string uuid(text.substr(start, kLength));
    std::erase(uuid, '-');
    return uuid;
}

std::string machineIdentityFromText(std::string_view text) {
    constexpr size_t kLength = 32;
    const std::string_view line = text.substr(0, text.find('\n'));
    if (line.size() != kLength || !std::all_of(line.begin(), line.end(), isHexDigit)) {
        return {};
    }
    std::string identity(line);
    std::transform(identity.begin(), identity.end(), identity.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    return identity;
}

std::string machineIdentity() {
    static const std::array<std::filesystem::path, 2> kCandidates = {"/etc/machine-id",
                                                                     "/var/lib/dbus/machine-id"};
    return machineIdentity(kCandidates);
}

std::string machineIdentity(std::span<const std::filesystem::path> candidates) {
    // A machine-id file is 33 bytes; anything much larger is not one.
    constexpr size_t kMaxFileBytes = 4096;
    for (const auto& path : candidates) {
        if (const auto contents = readWholeFile(path, kMaxFileBytes)) {
            std::string identity = machineIdentityFromText(std::string_view(
                reinterpret_cast<const char*>(contents->data()), contents->size()));
            if (!identity.empty()) {
                return identity;
            }
        }
    }
    return {};
}

}  // namespace vistamo
