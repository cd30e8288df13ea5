#include "settings/Folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

// Drops trailing "/" so that the last component is the folder itself.
std::filesystem::path withoutTrailingSeparator(std::filesystem::path path) {
    while (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    return path;
}

// `name` below the Library folder, even when it starts with "/".
std::filesystem::path underLibrary(const std::filesystem::path& library, const std::string& name) {
    return withoutTrailingSeparator(library / std::filesystem::path(name).relative_path());
}

// The value of one `<key>="..."` line (key "XDG_PICTURES_DIR=\"" and the like), or none when
// the line is something else or malformed. Within the quotes a backslash escapes the next
// character.
std::optional<std::filesystem::path> userFolderFromLine(std::string_view line,
                                                        std::string_view kKey,
                                                        const std::filesystem::path& home) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line.substr(first, kKey.size()) != kKey) {
        return std::nullopt;
    }
    line.remove_prefix(first + kKey.size());
    std::string value;
    bool closed = false;
    size_t i = 0;
    for (; i < line.size(); ++i) {
        if (line[i] == '\\') {
            if (++i == line.size()) {
                return std::nullopt;
            }
            value.push_back(line[i]);
        } else if (line[i] == '"') {
            closed = true;
            ++i;
            break;
        } else {
            value.push_back(line[i]);
        }
    }
    if (!closed || line.substr(i).find_first_not_of(" \t\r") != std::string_view::npos) {
        return std::nullopt;
    }
    constexpr std::string_view kHome = "$HOME";
    if (std::string_view(value).substr(0, kHome.size()) == kHome) {
        const std::string_view rest = std::string_view(value).substr(kHome.size());
        if (!rest.empty() && rest[0] != '/') {
            return std::nullopt;  // "$HOMEWORK/..." is not below HOME
        }
        const std::filesystem::path below = std::filesystem::path(rest).relative_path();
        return withoutTrailingSeparator(home / below);
    }
    if (!value.empty() && value[0] == '/') {
        return withoutTrailingSeparator(value);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> libraryFolder() {
    if (auto config = absoluteFromEnvironment("XDG_CONFIG_HOME")) {
        return config;
    }
    if (auto home = absoluteFromEnvironment("HOME")) {
        return *home / ".config";
    }
    return std::nullopt;
}

namespace {

// The user folder named by `key` in user-dirs.dirs, else $HOME/<fallback>.
std::optional<std::filesystem::path> userFolder(std::string_view key, const char* fallback) {
    const auto home = absoluteFromEnvironment("HOME");
    if (!home) {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> folder;
    constexpr size_t kMaxUserDirsBytes = 64 * 1024;
    if (const auto library = libraryFolder()) {
        if (const auto text = readWholeFile(*library / "user-dirs.dirs", kMaxUserDirsBytes)) {
            std::string_view rest(reinterpret_cast<const char*>(text->data()), text->size());
            while (!rest.empty()) {
                const size_t end = rest.find('\n');
                if (auto found = userFolderFromLine(rest.substr(0, end), key, *home)) {
                    folder = std::move(found);
                }
                rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            }
        }
    }
    return folder ? folder : *home / fallback;
}

}  // namespace

std::optional<std::filesystem::path> picturesFolder() {
    return userFolder("XDG_PICTURES_DIR=\"", "Pictures");
}

std::optional<std::filesystem::path> videosFolder() {
    return userFolder("XDG_VIDEOS_DIR=\"", "Videos");
}

bool createSubFolder(const std::string& named, bool withIntermediateDirectories) {
    const auto library = libraryFolder();
    if (!library) {
        logLine("cannot create folder " + named + ": no Library folder (no absolute HOME)");
        return false;
    }
    const std::filesystem::path folder = underLibrary(*library, named);
    if (withIntermediateDirectories) {
        std::error_code error;
        std::filesystem::create_directories(folder.parent_path(), error);
        if (error) {
            logLine("cannot create folder " + folder.parent_path().string() + ": " +
                    error.message());
            return false;
        }
    }
    if (::mkdir(folder.c_str(), 0777) != 0) {
        const int reason = errno;
        logLine("cannot create folder " + folder.string() + ": " + std::strerror(reason));
        return false;
    }
    return true;
}

ExistedState isExisted(const std::string& name) {
    const auto library = libraryFolder();
    if (!library) {
        return ExistedState::IT_IS_NONE;
    }
    std::error_code error;
    const auto status = std::filesystem::status(underLibrary(*library, name), error);
    if (error || !std::filesystem::exists(status)) {
        return ExistedState::IT_IS_NONE;
    }
    return std::filesystem::is_directory(status) ? ExistedState::IT_IS_A_FOLDER
                                                 : ExistedState::IT_IS_A_FILE;
}

}  // namespace vistamo
