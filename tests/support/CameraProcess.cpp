#include "support/CameraProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace vistamo::test {

namespace {

constexpr std::string_view kListening = "listening on port ";
constexpr auto kStartTimeout = std::chrono::seconds(10);

void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Spawned {
    pid_t pid = -1;
    int stdinFd = -1;   // our end, for writing
    int stdoutFd = -1;  // our end, for reading
    int stderrFd = -1;  // our end when standard error is collected, else -1
};

enum class Stderr { Inherit, Collect };

Spawned spawnCamera(const std::vector<std::string>& arguments, Stderr stderrMode,
                    const std::vector<std::string>& commandPrefix = {}) {
    int in[2];
    int out[2];
    int err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        fail("pipe");
    }
    if (stderrMode == Stderr::Collect && ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        fail("pipe");
    }
    // Discovery first, so that a "--discovery" among the arguments wins.
    std::vector<std::string> argvText = commandPrefix;
    argvText.push_back(VISTAMO_CAMERA_PATH);
    argvText.push_back("--no-discovery");
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies; the originals close at exec.
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (err[1] >= 0) {
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    Spawned spawned;
    // A prefix names its program without a path.
    const int error =
        ::posix_spawnp(&spawned.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    closeFd(err[1]);
    if (error != 0) {
        ::close(in[1]), ::close(out[0]);
        closeFd(err[0]);
        errno = error;
        fail(std::string("cannot start ") + VISTAMO_CAMERA_PATH);
    }
    spawned.stdinFd = in[1];
    spawned.stdoutFd = out[0];
    spawned.stderrFd = err[0];
    return spawned;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Waits up to `bound` for the process to end; none when it still runs.
std::optional<int> reap(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = CameraProcess::Clock::now() + bound;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return decodeStatus(status);
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (CameraProcess::Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int terminate(pid_t pid, std::chrono::milliseconds bound) {
    ::kill(pid, SIGTERM);
    if (const auto status = reap(pid, bound)) {
        return *status;
    }
    ::kill(pid, SIGKILL);
    return reap(pid, std::chrono::hours(1)).value_or(-1);
}

}  // namespace

CameraProcess::CameraProcess(std::vector<std::string> arguments,
                             std::vector<std::string> commandPrefix) {
    ignoreSigpipeOnce();
    const Spawned spawned = spawnCamera(arguments, Stderr::Inherit, commandPrefix);
    pid_ = spawned.pid;
    stdinFd_ = spawned.stdinFd;
    stdoutFd_ = spawned.stdoutFd;
    reader_ = std::thread([this] { readOutput(); });

    const auto line =
        waitForLine([](const std::string& text) { return text.starts_with(kListening); },
                    std::chrono::duration_cast<std::chrono::milliseconds>(kStartTimeout));
    const int port = line ? std::atoi(line->c_str() + kListening.size()) : 0;
    if (port <= 0 || port > 65535) {
        shutdown(std::chrono::milliseconds(1000));
        throw std::runtime_error("vistamo-camera did not report its port");
    }
    port_ = static_cast<uint16_t>(port);
}

CameraProcess::~CameraProcess() { shutdown(std::chrono::milliseconds(3000)); }

void CameraProcess::readOutput() {
    std::string partial;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(stdoutFd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        partial.append(chunk, static_cast<size_t>(got));
        size_t newline;
        std::vector<std::string> complete;
        while ((newline = partial.find('\n')) != std::string::npos) {
            complete.push_back(partial.substr(0, newline));
            partial.erase(0, newline + 1);
        }
        if (!complete.empty()) {
            std::lock_guard lock(mutex_);
            lines_.insert(lines_.end(), complete.begin(), complete.end());
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    if (!partial.empty()) {
        lines_.push_back(partial);
    }
    ended_ = true;
    changed_.notify_all();
}

std::optional<std::string> CameraProcess::waitForLine(
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
        if (ended_) {
            return std::nullopt;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
            next == lines_.size()) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> CameraProcess::waitForLine(std::string_view text,
                                                      std::chrono::milliseconds timeout) {
    return waitForLine(
        [text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout);
}

std::vector<std::string> CameraProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool CameraProcess::sendControl(std::string_view command) {
    std::lock_guard lock(writeMutex_);
    if (stdinFd_ < 0) {
        return false;
    }
    std::string text(command);
    text.push_back('\n');
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t done = ::write(stdinFd_, text.data() + written, text.size() - written);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        written += static_cast<size_t>(done);
    }
    return true;
}

int CameraProcess::stop(std::chrono::milliseconds bound) {
    shutdown(bound);
    return status_.value_or(-1);
}

void CameraProcess::shutdown(std::chrono::milliseconds bound) {
    if (pid_ > 0 && !status_) {
        status_ = terminate(pid_, bound);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    std::lock_guard lock(writeMutex_);
    closeFd(stdinFd_);
    closeFd(stdoutFd_);
}

CameraProcess::Finished CameraProcess::runToEnd(const std::vector<std::string>& arguments,
                                                std::chrono::milliseconds bound) {
    ignoreSigpipeOnce();
    Spawned spawned = spawnCamera(arguments, Stderr::Collect);
    // No control input: standard input is at its end from the start.
    closeFd(spawned.stdinFd);
    Finished finished;
    const auto deadline = Clock::now() + bound;
    pollfd outputs[2] = {{spawned.stdoutFd, POLLIN, 0}, {spawned.stderrFd, POLLIN, 0}};
    std::string* texts[2] = {&finished.output, &finished.errors};
    while (outputs[0].fd >= 0 || outputs[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = left.count() > 0 ? ::poll(outputs, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (outputs[i].fd < 0 || outputs[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = ::read(outputs[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                texts[i]->append(chunk, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                // poll passes over negative descriptors.
                outputs[i].fd = -1;
            }
        }
    }
    closeFd(spawned.stdoutFd);
    closeFd(spawned.stderrFd);
    const auto status = reap(spawned.pid, std::chrono::milliseconds(1000));
    finished.status = status ? *status : terminate(spawned.pid, std::chrono::milliseconds(100));
    return finished;
}

}  // namespace vistamo::test
