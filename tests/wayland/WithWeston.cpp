// Runs one command on a Wayland compositor of its own: weston with its headless backend and GL
// renderer (Mesa), its socket in a fresh runtime folder, screenshots allowed (--debug). The
// command gets WAYLAND_DISPLAY, XDG_RUNTIME_DIR and QT_QPA_PLATFORM=wayland and loses DISPLAY,
// so that nothing falls back to X11 unseen. Ends with the command's status, or 77 (skipped)
// with weston's log when the compositor does not come up.
//
//   with_weston COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "support/Wait.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kSkipped = 77;
constexpr const char* kSocket = "wayland-vistamo";

// The current environment without DISPLAY, with `extra` ("NAME=value") replacing its names.
std::vector<std::string> environment(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = name == "DISPLAY";
        for (const auto& added : extra) {
            replaced = replaced || added.substr(0, added.find('=')) == name;
        }
        if (!replaced) {
            result.push_back(text);
        }
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (const auto& text : texts) {
        result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

// Starts `argv`; its output goes to `log` when one is given. -1 when it cannot be started.
pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& log = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr,
                                     pointers(argv).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: with_weston COMMAND [ARGUMENT...]\n";
        return 2;
    }
    std::string pattern = fs::temp_directory_path() / "vistamo-weston-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path runtime = pattern;
    const fs::path log = runtime / "weston.log";
    const std::string runtimeVariable = "XDG_RUNTIME_DIR=" + runtime.string();

    const pid_t weston = start(
        {"weston", "--backend=headless-backend.so", "--use-gl", "--debug",
         std::string("--socket=") + kSocket, "--width=1600", "--height=1000", "--idle-time=0"},
        environment({runtimeVariable}), log);
    int raw = 0;
    bool ended = false;
    const bool up = weston > 0 &&
                    vistamo::test::waitUntil(
                        [&] {
                            ended = ::waitpid(weston, &raw, WNOHANG) == weston;
                            return ended || fs::exists(runtime / kSocket);
                        },
                        20s) &&
                    !ended;
    int status = kSkipped;
    if (!up) {
        std::ifstream file(log);
        std::cerr << "weston did not start; its log:\n"
                  << std::string(std::istreambuf_iterator<char>(file), {}) << '\n';
    } else {
        const pid_t command =
            start({argv + 1, argv + argc},
                  environment({runtimeVariable, std::string("WAYLAND_DISPLAY=") + kSocket,
                               "QT_QPA_PLATFORM=wayland"}));
        status = 1;
        if (command > 0 && ::waitpid(command, &raw, 0) == command) {
            status = statusOf(raw);
        }
    }
    if (weston > 0 && !ended) {
        ::kill(weston, SIGTERM);
        ::waitpid(weston, &raw, 0);
    }
    std::error_code ignored;
    fs::remove_all(runtime, ignored);
    return status;
}
