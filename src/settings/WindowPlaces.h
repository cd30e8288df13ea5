#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vistamo {

// A window's frame on the desktop, in points: its top left corner and its size.
struct WindowFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const WindowFrame&, const WindowFrame&) = default;
};

// Where each camera's window was last, by camera identity ("uuid:<UUID>" for a camera found by
// discovery, "address:<IP>" for one typed in). Kept in the file `windows` of the settings
// folder, beside and apart from the option file, as text: one line per camera,
// "<identity> <x> <y> <width> <height>", the most recently placed last.
//
// Reading is forgiving: a line that is not of that form (an identity with blanks or control
// characters or longer than kMaxIdentityBytes, a number out of range, a size not above zero)
// is skipped; a later line for the same identity replaces an earlier one, and only the last
// kMaxEntries entries are kept. Not thread-safe; the caller keeps it on one thread.
class WindowPlaces {
public:
    static constexpr const char* FILE_NAME = "windows";
    static constexpr size_t kMaxFileBytes = 64 * 1024;
    static constexpr size_t kMaxEntries = 200;
    static constexpr size_t kMaxIdentityBytes = 128;
    // Coordinates lie within ± this, sizes up to it.
    static constexpr int kMaxExtent = 1 << 20;

    // The identity of a camera: its UUID when it has one, else its address; none without
    // either (or when it would not fit the file).
    static std::optional<std::string> identityFor(const std::optional<std::string>& uuid,
                                                  const std::optional<std::string>& address);

    // The entries of `text`; see the class comment.
    static WindowPlaces parse(std::string_view text);
    // The file's text.
    std::string text() const;

    // From the settings folder; empty when there is no file or it cannot be read.
    static WindowPlaces load();
    // Replaces the file atomically, readable by its owner only, making the settings folder
    // when it is missing. False (and a log line) on failure.
    bool save() const;

    std::optional<WindowFrame> frameFor(std::string_view identity) const;
    // Records `frame` for `identity` as the most recent entry; the oldest entry goes when there
    // are more than kMaxEntries. An identity that does not fit the file is ignored.
    void setFrame(const std::string& identity, const WindowFrame& frame);

    // Drops every entry whose identity `matches`.
    template <typename Predicate>
    void eraseIf(Predicate matches) {
        std::erase_if(entries_, [&](const auto& entry) { return matches(entry.first); });
    }

    const std::vector<std::pair<std::string, WindowFrame>>& entries() const { return entries_; }

private:
    std::vector<std::pair<std::string, WindowFrame>> entries_;
};

}  // namespace vistamo
