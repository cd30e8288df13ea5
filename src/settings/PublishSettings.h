#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vistamo {

// A media server's address to publish a camera to: rtsp://[user[:password]@]host[:port]/path.
// The host is a name, an IPv4 address or an IPv6 address in brackets; the path is what the
// server calls the stream and may not be empty. Only printable ASCII without blanks.
struct PublishAddress {
    static constexpr size_t kMaxBytes = 1024;
    static constexpr uint16_t kDefaultPort = 554;

    std::string user;
    std::string password;
    std::string host;
    std::optional<uint16_t> port;
    std::string path;  // without its leading '/'

    // The address in `text`; none, with the reason in words a user can act on in `*fault`,
    // when it is not such an address.
    static std::optional<PublishAddress> parse(std::string_view text, std::string* fault = nullptr);

    // The whole address, credentials included: for the connection only, never for people.
    std::string url() const;
    // What people and log lines see: "host[:port]/path", never the user or password.
    std::string shown() const;

    bool operator==(const PublishAddress&) const = default;
};

// Whether a camera publishes its stream, and where.
struct PublishSetting {
    // As typed and accepted by PublishAddress::parse.
    std::string address;
    bool publishing = false;
    bool operator==(const PublishSetting&) const = default;
};

// Where each camera publishes, by camera identity (as WindowPlaces::identityFor makes it).
// Kept in the file `publishing` of the settings folder, readable by its owner only (the
// addresses may hold passwords), as text: one line per camera, "<identity> yes|no <address>",
// the most recently changed last.
//
// Reading is forgiving, since the bytes are not trusted: a line that is not of that form (an
// identity with blanks or control characters or longer than kMaxIdentityBytes, an address that
// does not parse) is skipped; a later line for the same identity replaces an earlier one, and
// only the last kMaxEntries entries are kept. Not thread-safe; the caller keeps it on one thread.
class PublishSettings {
public:
    static constexpr const char* FILE_NAME = "publishing";
    static constexpr size_t kMaxFileBytes = 256 * 1024;
    static constexpr size_t kMaxEntries = 200;
    static constexpr size_t kMaxIdentityBytes = 128;

    static PublishSettings parse(std::string_view text);
    std::string text() const;

    // From the settings folder; empty when there is no file or it cannot be read.
    static PublishSettings load();
    // Replaces the file atomically, owner-only, making the settings folder when missing. False
    // (and a log line without any address) on failure.
    bool save() const;

    std::optional<PublishSetting> settingFor(std::string_view identity) const;
    // Records `setting` for `identity` as the most recent entry; one that does not fit the file
    // (an identity with blanks, an address that does not parse) is ignored.
    void set(const std::string& identity, const PublishSetting& setting);

    const std::vector<std::pair<std::string, PublishSetting>>& entries() const { return entries_; }

private:
    std::vector<std::pair<std::string, PublishSetting>> entries_;
};

}  // namespace vistamo
