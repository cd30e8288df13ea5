#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>

#include "platform/Bytes.h"
#include "platform/Error.h"

namespace vistamo {

// Replaces `target` with exactly `bytes`, so that a reader sees either the old file or the new
// one, never a part: the bytes go to a new file beside the target (same folder, created with
// exactly `mode`, not masked by the umask), are flushed to the disk, and the new file is
// renamed over the target. An existing target's permissions are not kept. On failure the
// temporary file is removed, the target is untouched, and `*error` (when given) holds the
// POSIX error and the call that failed. Temporaries of `target` left by writers that were
// killed before their rename (their process is gone) are removed first, so they never pile up.
// Safe to call from any thread.
bool writeFileAtomically(const std::filesystem::path& target, ByteView bytes, mode_t mode,
                         Error* error = nullptr);

// The whole contents of a regular file, or none when it cannot be opened or read, is not a
// regular file (a FIFO or device is refused without waiting on it), or holds more than
// `maxBytes` bytes (then `*error` carries EFBIG).
std::optional<Bytes> readWholeFile(const std::filesystem::path& path, size_t maxBytes,
                                   Error* error = nullptr);

}  // namespace vistamo
