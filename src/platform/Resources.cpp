#include "platform/Resources.h"

#include <filesystem>
#include <system_error>

namespace vistamo {

namespace {

std::string findResourceFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            exe.parent_path().parent_path() / "share" / "vistamo";
        if (std::filesystem::is_regular_file(installed / "en.strings", error)) {
            return installed.string();
        }
    }
    return VISTAMO_RESOURCE_DIR;
}

}  // namespace

const std::string& resourceFolder() {
    static const std::string folder = findResourceFolder();
    return folder;
}

std::string resourcePath(std::string_view name) {
    std::string path = resourceFolder();
    path += '/';
    path += name;
    return path;
}

}  // namespace vistamo
