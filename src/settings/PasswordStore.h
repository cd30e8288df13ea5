#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo {

// The file, in the app folder of the Library folder, that keeps the passwords cameras accepted.
inline constexpr const char* SERVER = "server";

// The client settings store: the password that each camera (by its discovery UUID) last
// accepted, kept across runs in the file SERVER. The file holds a signed 32-bit big-endian
// pair count, then each pair as two length-prefixed UTF-8 strings (UUID, password), with no
// header or checksum; the store is read once at creation and rewritten whole on each change.
//
// Threads: getPassword runs on the discovery queue, appendUUID on the main thread; every
// operation may be called from any thread.
class PasswordStore {
public:
    // Loads the file, if there is one, into an empty store.
    PasswordStore();

    PasswordStore(const PasswordStore&) = delete;
    PasswordStore& operator=(const PasswordStore&) = delete;

    // The file's bytes; none without a Library folder, when it is not a file, cannot be read
    // or is larger than kMaxFileBytes.
    std::optional<Bytes> load() const;

    // Appends the pairs stored in `data` to the store. Data shorter than 21 bytes is ignored
    // as a whole. Reading stops after the count of pairs (at least one), or at the first field
    // that is not a valid string inside the data; the complete pairs read until then are kept.
    void getConfig(ByteView data);

    // The whole store in the file layout.
    Bytes getData() const;

    // Replaces the file with `data` atomically, readable and writable by its owner only. The
    // app folder is not created here: without it (or without a Library folder) the bytes are
    // lost and a line is logged.
    void save(ByteView data) const;

    // The password of the first pair with this UUID.
    std::optional<std::string> getPassword(const std::string& uuid) const;

    // Sets the password of every pair with this UUID, or adds a pair at the end when there is
    // none, then saves the whole store.
    void appendUUID(const std::string& uuid, const std::string& password);

    // A consistent copy of the pairs, in order.
    std::vector<std::pair<std::string, std::string>> pairs() const;

    static constexpr size_t kMaxFileBytes = 1024 * 1024;

private:
    Bytes dataLocked() const;

    // Serialises appendUUID's change-and-write so that the file always ends with the latest
    // store. Lock order: saveLock_ before lock_.
    std::mutex saveLock_;

    // Guards UUID and Password, which always have the same length: entry i of Password is the
    // password of entry i of UUID.
    mutable std::mutex lock_;
    std::vector<std::string> UUID;
    std::vector<std::string> Password;
};

}  // namespace vistamo
