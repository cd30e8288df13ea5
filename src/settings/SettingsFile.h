#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vistamo {

// One of vistamo's small text settings files in its folder of the Library folder. Read as
// untrusted bytes (the caller parses the text); written atomically (a crash leaves the old file
// or the new one) and readable by its owner only. Any thread; each call works on the file alone.
struct SettingsFile {
    // The file's name in the application's folder.
    const char* fileName;
    // How log lines name it ("clips.conf", "window places").
    const char* logName;
    // A longer file is not read.
    size_t maxBytes;

    // The file's text; none when there is no Library folder or no file, or when it cannot be
    // read or is too long, which logs "ignoring <logName>: <reason>: <description>".
    std::optional<std::string> read() const;
    // Logs "<logName> not saved: ..." and answers false when the file could not be written.
    bool write(std::string_view text) const;
};

}  // namespace vistamo
