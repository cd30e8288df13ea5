#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vistamo {

// The cameras the user set to be used as a webcam, by camera identity: a camera window of one
// of them offers its picture and sound to other programs as soon as it opens. Kept in
// "webcams.conf" in the settings folder, one identity a line:
//
//   webcam = <identity>
//
// An identity is 1 to kMaxIdentityBytes printable ASCII characters without spaces. Blank lines
// and lines starting with "#" are skipped, as are unknown keys (a later version's file still
// reads); at most kMaxCameras identities are kept.
struct WebcamChoices {
    static constexpr size_t kMaxIdentityBytes = 128;
    static constexpr size_t kMaxCameras = 1000;

    std::set<std::string> cameras;

    bool contains(std::string_view identity) const {
        return cameras.count(std::string(identity)) > 0;
    }
    bool operator==(const WebcamChoices&) const = default;
};

// Whether `identity` may be kept in the file.
bool isWebcamIdentity(std::string_view identity);

// The choices in `text`; none, with the line and its fault in `*fault`, when a line is not
// "key = value", an identity is not one the file takes, there are too many, or the text is not
// UTF-8.
std::optional<WebcamChoices> parseWebcamChoices(std::string_view text,
                                                std::string* fault = nullptr);

std::string webcamChoicesText(const WebcamChoices& choices);

// The saved choices; none chosen when there is no file, and (with a log line) when it cannot be
// read or is malformed.
WebcamChoices loadWebcamChoices();

// Writes the file atomically, readable by its owner only; false (logged) on failure.
bool saveWebcamChoices(const WebcamChoices& choices);

}  // namespace vistamo
