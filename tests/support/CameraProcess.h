#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vistamo::test {

// A running vistamo-camera for a test, its standard input and output on pipes, ready once it
// has printed "listening on port N"; the constructor throws std::runtime_error otherwise. Every
// output line is kept. The destructor ends the process (SIGTERM, then SIGKILL) and reaps it.
//
// Discovery stays off unless the arguments turn it on ("--discovery"), so that a camera started
// on the test machine announces nothing on its network. `commandPrefix` runs the camera through
// another program, such as {"ip", "netns", "exec", NAME}, which must exec the camera in its own
// place so that signals reach it. SIGPIPE is ignored, so that writing to a camera that has gone
// fails instead of ending the test.
//
// Threads: waitForLine, lines and sendControl from any thread; stop and the destructor by the
// owner only.
class CameraProcess {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    explicit CameraProcess(std::vector<std::string> arguments = {"--port", "0", "--control"},
                           std::vector<std::string> commandPrefix = {});
    ~CameraProcess();

    CameraProcess(const CameraProcess&) = delete;
    CameraProcess& operator=(const CameraProcess&) = delete;

    uint16_t port() const { return port_; }

    // The first line after the previous match (or from the start) for which `matches` holds,
    // waiting for it up to `timeout`; none on timeout or when the output has ended. A match
    // moves the position past the line, so the next wait looks at later lines only. `matches`
    // runs under the object's lock and must not call back into it.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);
    // The same for the first line that contains `text`.
    std::optional<std::string> waitForLine(std::string_view text,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);

    // Every line seen so far.
    std::vector<std::string> lines() const;

    // Writes one control command (a newline is added). False when the camera no longer reads.
    bool sendControl(std::string_view command);

    // Ends the camera (SIGTERM, then SIGKILL after `bound`) and returns its exit status: the
    // exit code, or 128 + the signal that ended it. Further calls return the same status.
    int stop(std::chrono::milliseconds bound = std::chrono::milliseconds(3000));

private:
    void readOutput();
    // Ends the process if it runs, joins the reader, closes the pipes.
    void shutdown(std::chrono::milliseconds bound);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    uint16_t port_ = 0;
    std::optional<int> status_;
    std::thread reader_;

    // Serialises control writes; never held together with mutex_.
    std::mutex writeMutex_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    std::vector<std::string> lines_;
    size_t position_ = 0;
    bool ended_ = false;
};

}  // namespace vistamo::test
