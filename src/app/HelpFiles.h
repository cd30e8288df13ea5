#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace vistamo {

inline constexpr const char* kBuggyWebViewErrorDomain = "BuggyWKWebViewDomain";
inline constexpr long kNotAFileUrlError = 1001;

// The local path a "file:" URL names ("file:///path" or "file://localhost/path", scheme in any
// case, percent escapes decoded), or none when the text is not such a URL: another scheme, a
// remote host, a relative path, a broken escape or an escaped NUL.
std::optional<std::filesystem::path> pathFromFileUrl(std::string_view url);

// "file://" and the absolute `path`, percent-encoded where a URL needs it.
std::string fileUrlFromPath(const std::filesystem::path& path);

// Copies the file (or folder) that `fileURL` names into the folder "www" of the temporary
// directory, replacing what has the same name there, and returns the copy's file URL. A page
// kept there can be read by a viewer confined to the temporary directory.
//
// Fails, with `*error` set when given, when `fileURL` is not a file URL (domain
// "BuggyWKWebViewDomain", code 1001), when it names no file (the file system root), and when
// making the folder or copying fails (a POSIX error naming the step). Any thread.
std::optional<std::string> helpFileUrl(std::string_view fileURL, Error* error = nullptr);

}  // namespace vistamo
