#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>

namespace vistamo {

namespace {

// Closes the descriptor when it goes out of scope, unless released.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports close's own failure (a late write error on some file systems).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool fail(Error* error, int errnoValue, std::string reason) {
    if (error != nullptr) {
        *error = posixError(errnoValue, std::move(reason));
    }
    return false;
}

std::string temporaryPrefixFor(const std::filesystem::path& target) {
    return "." + target.filename().string() + ".tmp-";
}

// A name no other writer uses at the same time: the target's name, the process id, a
// counter and a random number. O_EXCL still guards against a leftover file of that name.
std::filesystem::path temporaryPathFor(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    std::string name = temporaryPrefixFor(target) + std::to_string(::getpid()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(random());
    return target.parent_path() / name;
}

// Removes the temporaries of `target` that writers which no longer run left behind (a process
// killed between creating its temporary and renaming it). Those of this process may belong to a
// write in progress on another thread, and those of a live process to that process: both stay.
void removeStaleTemporaries(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.parent_path();
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string prefix = temporaryPrefixFor(target);
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) {
            continue;
        }
        const std::string_view rest = name.substr(prefix.size());
        pid_t writer = 0;
        const auto [end, fault] = std::from_chars(rest.data(), rest.data() + rest.size(), writer);
        if (fault != std::errc() || end == rest.data() || end == rest.data() + rest.size() ||
            *end != '-' || writer <= 0 || writer == self) {
            continue;
        }
        if (::kill(writer, 0) != 0 && errno == ESRCH) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

bool writeAll(int fd, ByteView bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<size_t>(result);
    }
    return true;
}

// Makes the rename itself durable. Failure here does not undo a completed replacement, so it
// is not reported.
void syncFolder(const std::filesystem::path& folder) {
    FileDescriptor fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& target, ByteView bytes, mode_t mode,
                         Error* error) {
    removeStaleTemporaries(target);
    constexpr int kAttempts = 8;
    std::filesystem::path temporary;
    int fdValue = -1;
    for (int attempt = 0; attempt < kAttempts && fdValue < 0; ++attempt) {
        temporary = temporaryPathFor(target);
        do {
            fdValue = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        } while (fdValue < 0 && errno == EINTR);
        if (fdValue < 0 && errno != EEXIST) {
            return fail(error, errno, "open " + temporary.string());
        }
    }
    if (fdValue < 0) {
        return fail(error, EEXIST, "open " + temporary.string());
    }
    FileDescriptor fd(fdValue);

    const auto abandon = [&](std::string reason) {
        const int saved = errno;
        if (fd.valid()) {
            fd.close();
        }
        ::unlink(temporary.c_str());
        return fail(error, saved, std::move(reason));
    };
    if (::fchmod(fd.get(), mode) != 0) {
        return abandon("fchmod " + temporary.string());
    }
    if (!writeAll(fd.get(), bytes)) {
        return abandon("write " + temporary.string());
    }
    if (::fsync(fd.get()) != 0) {
        return abandon("fsync " + temporary.string());
    }
    if (fd.close() != 0) {
        return abandon("close " + temporary.string());
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return abandon("rename " + temporary.string() + " to " + target.string());
    }
    syncFolder(target.parent_path());
    return true;
}

std::optional<Bytes> readWholeFile(const std::filesystem::path& path, size_t maxBytes,
                                   Error* error) {
    int fdValue;
    do {
        // O_NONBLOCK: opening a FIFO must not wait for a writer. It has no effect on the
        // reads of a regular file, the only kind read below.
        fdValue = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fdValue < 0 && errno == EINTR);
    if (fdValue < 0) {
        fail(error, errno, "open " + path.string());
        return std::nullopt;
    }
    FileDescriptor fd(fdValue);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        fail(error, errno, "fstat " + path.string());
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        fail(error, EINVAL, path.string() + " is not a regular file");
        return std::nullopt;
    }
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > maxBytes) {
        fail(error, EFBIG,
             path.string() + " is larger than " + std::to_string(maxBytes) + " bytes");
        return std::nullopt;
    }

    // The file may change while it is read: read until the end, but never more than maxBytes.
    Bytes contents(static_cast<size_t>(info.st_size));
    size_t used = 0;
    for (;;) {
        if (used == contents.size()) {
            if (contents.size() > maxBytes) {
                fail(error, EFBIG,
                     path.string() + " grew past " + std::to_string(maxBytes) + " bytes");
                return std::nullopt;
            }
            // One byte beyond the limit is enough to tell that the file is too large.
            const size_t ceiling = maxBytes < SIZE_MAX ? maxBytes + 1 : SIZE_MAX;
            contents.resize(std::min(ceiling, std::max<size_t>(contents.size() * 2, 4096)));
        }
        const ssize_t result = ::read(fd.get(), contents.data() + used, contents.size() - used);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(error, errno, "read " + path.string());
            return std::nullopt;
        }
        if (result == 0) {
            break;
        }
        used += static_cast<size_t>(result);
    }
    contents.resize(used);
    return contents;
}

}  // namespace vistamo
