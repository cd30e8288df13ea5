#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace vistamo {

// The platform UUID in a system-registry listing: the 36 characters that start 5 past the end
// of the first "IOPlatformUUID" (past `" = "`), with every "-" removed. Empty when the key is
// missing or fewer than 36 characters follow that point. The listing is ASCII; characters are
// counted as bytes.
std::string platformUUIDFromRegistryText(std::string_view text);

// The machine identity in the contents of a machine-id file: the first line, lower-cased,
// when it is exactly 32 hexadecimal characters; empty otherwise.
std::string machineIdentityFromText(std::string_view text);

// This machine's identity, 32 lowercase hexadecimal characters: read afresh on every call from
// /etc/machine-id, else /var/lib/dbus/machine-id. Empty when neither holds a valid identity.
std::string machineIdentity();

// The same from the first of `candidates` that holds a valid identity.
std::string machineIdentity(std::span<const std::filesystem::path> candidates);

}  // namespace vistamo
