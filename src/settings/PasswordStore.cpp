#include "settings/PasswordStore.h"

#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "settings/ByteFields.h"
#include "settings/Folders.h"

namespace vistamo {

namespace {

constexpr size_t kMinimumFileBytes = 21;

std::string serverFileName() { return std::string(kAppFolderName) + "/" + SERVER; }

}  // namespace

PasswordStore::PasswordStore() {
    if (const auto data = load()) {
        getConfig(*data);
    }
}

std::optional<Bytes> PasswordStore::load() const {
    const auto library = libraryFolder();
    if (!library || isExisted(serverFileName()) != ExistedState::IT_IS_A_FILE) {
        return std::nullopt;
    }
    Error error;
    auto data = readWholeFile(*library / serverFileName(), kMaxFileBytes, &error);
    if (!data) {
        logLine("ignoring the stored passwords: " + error.reason + ": " + error.description);
    }
    return data;
}

void PasswordStore::getConfig(ByteView data) {
    if (data.size() < kMinimumFileBytes) {
        return;
    }
    const int64_t count = *getInt(data, 0);
    size_t position = 4;
    // Every pair takes at least 8 bytes, so the loop ends with the data whatever the count.
    std::vector<std::pair<std::string, std::string>> found;
    do {
        Error error;
        auto uuid = getString(data, position, &error);
        if (uuid) {
            position += uuid->consumed;
        }
        auto password = uuid ? getString(data, position, &error) : std::nullopt;
        if (!password) {
            logLine("stored passwords end early at pair " + std::to_string(found.size() + 1) +
                    ": " + error.description);
            break;
        }
        position += password->consumed;
        found.emplace_back(std::move(uuid->text), std::move(password->text));
    } while (static_cast<int64_t>(found.size()) < count);

    std::lock_guard guard(lock_);
    for (auto& [uuid, password] : found) {
        UUID.push_back(std::move(uuid));
        Password.push_back(std::move(password));
    }
}

Bytes PasswordStore::getData() const {
    std::lock_guard guard(lock_);
    return dataLocked();
}

Bytes PasswordStore::dataLocked() const {
    Bytes data;
    appendInt(data, static_cast<int64_t>(UUID.size()));
    for (size_t i = 0; i < UUID.size(); ++i) {
        appendString(data, UUID[i]);
        appendString(data, Password[i]);
    }
    return data;
}

void PasswordStore::save(ByteView data) const {
    const auto library = libraryFolder();
    if (!library) {
        logLine("passwords not saved: no Library folder");
        return;
    }
    Error error;
    if (!writeFileAtomically(*library / serverFileName(), data, S_IRUSR | S_IWUSR, &error)) {
        logLine("passwords not saved: " + error.reason + ": " + error.description);
    }
}

std::optional<std::string> PasswordStore::getPassword(const std::string& uuid) const {
    std::lock_guard guard(lock_);
    for (size_t i = 0; i < UUID.size(); ++i) {
        if (UUID[i] == uuid) {
            return Password[i];
        }
    }
    return std::nullopt;
}

void PasswordStore::appendUUID(const std::string& uuid, const std::string& password) {
    std::lock_guard saving(saveLock_);
    Bytes data;
    {
        std::lock_guard guard(lock_);
        bool matched = false;
        for (size_t i = 0; i < UUID.size(); ++i) {
            if (UUID[i] == uuid) {
                Password[i] = password;
                matched = true;
            }
        }
        if (!matched) {
            UUID.push_back(uuid);
            Password.push_back(password);
        }
        data = dataLocked();
    }
    save(data);
}

std::vector<std::pair<std::string, std::string>> PasswordStore::pairs() const {
    std::lock_guard guard(lock_);
    std::vector<std::pair<std::string, std::string>> result;
    result.reserve(UUID.size());
    for (size_t i = 0; i < UUID.size(); ++i) {
        result.emplace_back(UUID[i], Password[i]);
    }
    return result;
}

}  // namespace vistamo
