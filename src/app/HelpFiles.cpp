#include "app/HelpFiles.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/Ascii.h"
#include "platform/Localization.h"

namespace vistamo {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexDigitValue(text[i + 1]);
        const int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

void setError(Error* error, Error value) {
    if (error != nullptr) {
        *error = std::move(value);
    }
}

Error errorOf(const std::error_code& code, std::string reason) {
    return posixError(code.value() != 0 ? code.value() : EIO, std::move(reason));
}

}  // namespace

std::optional<fs::path> pathFromFileUrl(std::string_view url) {
    constexpr std::string_view kPrefix = "file://";
    if (url.size() < kPrefix.size() ||
        !equalsIgnoringAsciiCase(url.substr(0, kPrefix.size()), kPrefix)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(kPrefix.size());
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !equalsIgnoringAsciiCase(host, "localhost")) {
        return std::nullopt;
    }
    // A query or fragment is not part of the file's name.
    std::string_view path = rest.substr(slash);
    path = path.substr(0, path.find_first_of("?#"));
    auto decoded = percentDecoded(path);
    if (!decoded) {
        return std::nullopt;
    }
    return fs::path(std::move(*decoded));
}

std::string fileUrlFromPath(const fs::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path.string()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') ||
                           std::string_view("/-._~").find(c) != std::string_view::npos;
        if (plain) {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0xF]);
        }
    }
    return url;
}

std::optional<std::string> helpFileUrl(std::string_view fileURL, Error* error) {
    const auto source = pathFromFileUrl(fileURL);
    if (!source) {
        setError(error, Error{kBuggyWebViewErrorDomain,
                              kNotAFileUrlError,
                              localizedString("URL must be a file URL.", "URL must be a file URL."),
                              {}});
        return std::nullopt;
    }
    // The name is taken after ".." and "." are resolved, so the item replaced below always lies
    // inside "www" and never above it.
    fs::path normal = source->lexically_normal();
    fs::path name = normal.filename();
    if (name.empty()) {
        name = normal.parent_path().filename();
    }
    if (name.empty() || name == "." || name == "..") {
        setError(error, posixError(EINVAL, "the URL names no file"));
        return std::nullopt;
    }

    std::error_code code;
    const fs::path temporary = fs::temp_directory_path(code);
    if (code) {
        setError(error, errorOf(code, "find the temporary directory"));
        return std::nullopt;
    }
    const fs::path folder = temporary / "www";
    fs::create_directories(folder, code);
    if (code) {
        setError(error, errorOf(code, "create the folder " + folder.string()));
        return std::nullopt;
    }
    const fs::path destination = folder / name;
    // A page already in "www" is its own copy: removing it first would lose it.
    std::error_code sameCode;
    if (fs::equivalent(normal, destination, sameCode)) {
        return fileUrlFromPath(destination);
    }
    // A folder that holds "www" would be copied into itself without end.
    std::error_code sourceCode;
    std::error_code folderCode;
    const fs::path sourceFolder = fs::weakly_canonical(normal, sourceCode);
    const fs::path canonicalFolder = fs::weakly_canonical(folder, folderCode);
    if (!sourceCode && !folderCode && fs::is_directory(sourceFolder, sourceCode)) {
        const auto mismatch = std::mismatch(sourceFolder.begin(), sourceFolder.end(),
                                            canonicalFolder.begin(), canonicalFolder.end());
        if (mismatch.first == sourceFolder.end()) {
            setError(error, posixError(EINVAL, "copy " + normal.string() + " into itself"));
            return std::nullopt;
        }
    }
    std::error_code ignored;
    fs::remove_all(destination, ignored);
    fs::copy(normal, destination, fs::copy_options::recursive, code);
    if (code) {
        setError(error, errorOf(code, "copy " + normal.string() + " to " + destination.string()));
        return std::nullopt;
    }
    return fileUrlFromPath(destination);
}

}  // namespace vistamo
