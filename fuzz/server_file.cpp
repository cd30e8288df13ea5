// The stored-passwords file: any bytes are read without fault, and what the store then writes
// reads back as the same pairs.
#include <cstdio>
#include <cstdlib>

#include "settings/ByteFields.h"
#include "settings/PasswordStore.h"

using namespace vistamo;

namespace {

// Keeps every store away from the user's real settings file: without an absolute HOME or
// XDG_CONFIG_HOME there is no Library folder to load from or save to.
const bool kNoLibraryFolder = [] {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)kNoLibraryFolder;
    PasswordStore config;
    config.getConfig(ByteView(data, size));
    const auto pairs = config.pairs();
    const Bytes written = config.getData();

    size_t expectedSize = 4;
    for (const auto& [uuid, password] : pairs) {
        expectedSize += 8 + uuid.size() + password.size();
    }
    if (written.size() != expectedSize ||
        getInt(written, 0) != static_cast<int64_t>(pairs.size())) {
        std::abort();
    }
    // Data below 21 bytes is ignored by design, so only longer data must round-trip.
    if (written.size() >= 21) {
        PasswordStore again;
        again.getConfig(written);
        if (again.pairs() != pairs || again.getData() != written) {
            std::abort();
        }
    }
    return 0;
}
