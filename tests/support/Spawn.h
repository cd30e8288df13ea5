#pragma once

// Starting and ending the tests' child processes. Header-only, so that the tests' small
// programs of their own (with_weston) use it without the helper library.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vistamo::test {

// Where a child's standard streams go; each unset one is the test's own.
struct SpawnOptions {
    // The environment, one "NAME=value" each; the test's own when none.
    std::optional<std::vector<std::string>> environment = std::nullopt;
    // Standard output and error both go to this file, made afresh.
    std::filesystem::path log = {};
    // Standard input from, and standard output to, these descriptors; with `errorsToOutput`
    // standard error goes to `output` too.
    int input = -1;
    int output = -1;
    bool errorsToOutput = false;
};

// Starts argv[0], looked up on PATH; its process id, or -1 with errno set.
inline pid_t spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options = {}) {
    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (const auto& text : texts) {
            result.push_back(const_cast<char*>(text.c_str()));
        }
        result.push_back(nullptr);
        return result;
    };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies.
    if (!options.log.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (options.input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.input, STDIN_FILENO);
    }
    if (options.output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.output, STDOUT_FILENO);
        if (options.errorsToOutput) {
            posix_spawn_file_actions_adddup2(&actions, options.output, STDERR_FILENO);
        }
    }
    pid_t pid = -1;
    const int error =
        ::posix_spawnp(&pid, argv.at(0).c_str(), &actions, nullptr, pointers(argv).data(),
                       options.environment ? pointers(*options.environment).data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    errno = error;
    return error == 0 ? pid : -1;
}

// Waits up to `bound` for child `pid` to end; none when it still runs. The status is the exit
// code, or 128 + the signal that ended it (-1 when it cannot be told).
inline std::optional<int> reapProcess(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status)     ? WEXITSTATUS(status)
                   : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                         : -1;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Ends child `pid` (SIGTERM, then SIGKILL when it has not ended within `bound`) and reaps it;
// its status as reapProcess gives it.
inline int endProcess(pid_t pid, std::chrono::milliseconds bound) {
    ::kill(pid, SIGTERM);
    if (const auto status = reapProcess(pid, bound)) {
        return *status;
    }
    ::kill(pid, SIGKILL);
    return reapProcess(pid, std::chrono::hours(1)).value_or(-1);
}

}  // namespace vistamo::test
