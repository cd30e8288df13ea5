#include "support/ChildProcess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace vistamo::test {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, SpawnOptions options) {
    static std::once_flag ignoreSigpipe;
    std::call_once(ignoreSigpipe, [] { std::signal(SIGPIPE, SIG_IGN); });
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        fail("pipe");
    }
    options.input = in[0];
    options.output = out[1];
    pid_ = spawnProcess(argv, options);
    const int error = errno;
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    stdoutFd_ = out[0];
    if (pid_ < 0) {
        shutdown({});
        errno = error;
        fail("cannot start " + argv.at(0));
    }
    reader_ = std::thread([this] { readOutput(); });
}

ChildProcess::~ChildProcess() { shutdown(std::chrono::milliseconds(3000)); }

void ChildProcess::readOutput() {
    std::string partial;
    char chunk[4096];
    for (ssize_t got; (got = ::read(stdoutFd_, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        partial.append(chunk, static_cast<size_t>(got));
        std::lock_guard lock(mutex_);
        for (size_t newline; (newline = partial.find('\n')) != std::string::npos;) {
            if (keepLines_) {
                lines_.push_back(partial.substr(0, newline));
            }
            partial.erase(0, newline + 1);
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!partial.empty() && keepLines_) {
        lines_.push_back(partial);
    }
    ended_ = true;
    changed_.notify_all();
}

void ChildProcess::forgetLines() {
    std::lock_guard lock(mutex_);
    keepLines_ = false;
    lines_.clear();
    lines_.shrink_to_fit();
    position_ = 0;
}

std::optional<std::string> ChildProcess::waitForLine(
    const std::function<bool(const std::string&)>& matches, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    size_t next = position_;
    for (;;) {
        for (; next < lines_.size(); ++next) {
            if (matches(lines_[next])) {
                position_ = next + 1;
                return lines_[next];
            }
        }
        if (ended_ || (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
                       next == lines_.size())) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ChildProcess::waitForLine(std::string_view text,
                                                     std::chrono::milliseconds timeout) {
    return waitForLine(
        [text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout);
}

std::optional<std::string> ChildProcess::findLine(std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (line.find(text) != std::string::npos) {
            return line;
        }
    }
    return std::nullopt;
}

std::vector<std::string> ChildProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string ChildProcess::transcript() const {
    std::string text;
    for (const auto& line : lines()) {
        text += line + "\n";
    }
    return text;
}

bool ChildProcess::writeLine(std::string_view line) {
    std::lock_guard lock(writeMutex_);
    const std::string text = std::string(line) + "\n";
    for (size_t written = 0; stdinFd_ >= 0 && written < text.size();) {
        const ssize_t done = ::write(stdinFd_, text.data() + written, text.size() - written);
        if (done == 0 || (done < 0 && errno != EINTR)) {
            return false;
        }
        written += done > 0 ? static_cast<size_t>(done) : 0;
    }
    return stdinFd_ >= 0;
}

std::optional<int> ChildProcess::waitForEnd(std::chrono::milliseconds bound) {
    if (pid_ > 0 && !status_) {
        status_ = reapProcess(pid_, bound);
    }
    return status_;
}

int ChildProcess::stop(std::chrono::milliseconds bound) {
    shutdown(bound);
    return status_.value_or(-1);
}

int ChildProcess::kill() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        status_ = reapProcess(pid_, std::chrono::hours(1)).value_or(-1);
    }
    return stop();
}

void ChildProcess::shutdown(std::chrono::milliseconds bound) {
    if (pid_ > 0 && !status_) {
        status_ = endProcess(pid_, bound);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    std::lock_guard lock(writeMutex_);
    closeFd(stdinFd_);
    closeFd(stdoutFd_);
}

}  // namespace vistamo::test
