#include "media/ClipFileName.h"

#include <system_error>

#include "settings/Folders.h"

namespace vistamo {

std::string safeCameraFileName(std::string_view cameraName) {
    constexpr size_t kMaxBytes = 200;
    std::string safe;
    for (const char c : cameraName) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            continue;
        }
        safe.push_back(c == '/' ? '-' : c);
    }
    const size_t first = safe.find_first_not_of(". -");
    safe.erase(0, first == std::string::npos ? safe.size() : first);
    if (safe.size() > kMaxBytes) {
        size_t cut = kMaxBytes;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) {
            --cut;  // never split a UTF-8 character
        }
        safe.resize(cut);
    }
    while (!safe.empty() && safe.back() == ' ') {
        safe.pop_back();
    }
    return safe.empty() ? "camera" : safe;
}

std::string clipFileName(std::string_view cameraName, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &local);
    return safeCameraFileName(cameraName) + " " + stamp + ".mp4";
}

std::optional<std::filesystem::path> clipFolder() {
    if (const auto videos = videosFolder()) {
        return *videos / kAppFolderName;
    }
    return std::nullopt;
}

std::filesystem::path unusedClipPath(const std::filesystem::path& folder, const std::string& name) {
    const std::filesystem::path base(name);
    std::filesystem::path candidate = folder / base;
    for (int number = 2;; ++number) {
        std::filesystem::path part = candidate;
        part += ".part";
        std::error_code ignored;
        if (!std::filesystem::exists(candidate, ignored) &&
            !std::filesystem::exists(part, ignored)) {
            return candidate;
        }
        candidate = folder / (base.stem().string() + " " + std::to_string(number) +
                              base.extension().string());
    }
}

}  // namespace vistamo
