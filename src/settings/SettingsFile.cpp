#include "settings/SettingsFile.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "settings/Folders.h"

namespace vistamo {

std::optional<std::string> SettingsFile::read() const {
    const auto library = libraryFolder();
    if (!library) {
        return std::nullopt;
    }
    const auto path = *library / kAppFolderName / fileName;
    std::error_code missing;
    if (!std::filesystem::exists(path, missing)) {
        return std::nullopt;
    }
    Error error;
    const auto data = readWholeFile(path, maxBytes, &error);
    if (!data) {
        logLine(std::string("ignoring ") + logName + ": " + error.reason + ": " +
                error.description);
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(data->data()), data->size());
}

bool SettingsFile::write(std::string_view text) const {
    const auto library = libraryFolder();
    if (!library) {
        logLine(std::string(logName) + " not saved: no Library folder");
        return false;
    }
    const auto path = *library / kAppFolderName / fileName;
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    Error error;
    if (!writeFileAtomically(path,
                             ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                             S_IRUSR | S_IWUSR, &error)) {
        logLine(std::string(logName) + " not saved: " + error.reason + ": " + error.description);
        return false;
    }
    return true;
}

}  // namespace vistamo
