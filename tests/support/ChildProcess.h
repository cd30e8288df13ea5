#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/Spawn.h"

namespace vistamo::test {

// A program run for a test, its standard input and output on pipes; every output line is kept
// (standard error too when `options.errorsToOutput`). The constructor throws std::runtime_error
// when the program cannot start. The destructor ends the process (SIGTERM, then SIGKILL) and
// reaps it. SIGPIPE is ignored, so that writing to a program that has gone fails instead of
// ending the test.
//
// Threads: waitForLine, findLine, lines, transcript and writeLine from any thread; waitForEnd,
// running, stop and the destructor by the owner only.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    // Runs argv[0], looked up on PATH; `options` gives the environment and errorsToOutput.
    explicit ChildProcess(const std::vector<std::string>& argv, SpawnOptions options = {});
    virtual ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line after the previous match (or from the start) for which `matches` holds,
    // waiting for it up to `timeout`; none on timeout or when the output has ended. A match
    // moves the position past the line, so the next wait looks at later lines only. `matches`
    // runs under the object's lock and must not call back into it.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);
    // The same for the first line that contains `text`.
    std::optional<std::string> waitForLine(std::string_view text,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);
    // The first line so far that contains `text`, wherever the previous match was.
    std::optional<std::string> findLine(std::string_view text) const;

    // Every line seen so far, alone or joined (each with its newline).
    std::vector<std::string> lines() const;
    // Drops the lines seen so far and keeps no later ones (the output is still read), for a
    // program that runs for hours and talks all the time; waits find nothing afterwards.
    void forgetLines();
    std::string transcript() const;

    // Writes `line` and a newline to the program's standard input. False when it no longer reads.
    bool writeLine(std::string_view line);

    // The exit status (the exit code, or 128 + the signal that ended it) once the program has
    // ended by itself; none when it still runs after `bound`.
    std::optional<int> waitForEnd(std::chrono::milliseconds bound);
    bool running() { return !waitForEnd(std::chrono::milliseconds(0)); }

    // Ends the program (SIGTERM, then SIGKILL after `bound`) and returns its exit status. Further
    // calls return the same status.
    int stop(std::chrono::milliseconds bound = std::chrono::milliseconds(3000));
    // Ends the program at once with SIGKILL, so that it cannot say goodbye, and reaps it.
    int kill();

private:
    void readOutput();
    // Ends the process if it runs, joins the reader, closes the pipes.
    void shutdown(std::chrono::milliseconds bound);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::optional<int> status_;  // the owner's only
    std::thread reader_;

    // Serialises writes; never held together with mutex_.
    std::mutex writeMutex_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    std::vector<std::string> lines_;
    size_t position_ = 0;
    bool ended_ = false;
    bool keepLines_ = true;
};

}  // namespace vistamo::test
