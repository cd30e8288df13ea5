// Runs one command on a Wayland compositor of its own: weston with its headless backend and GL
// renderer (Mesa), its socket in a fresh runtime folder, screenshots allowed (--debug). The
// command gets WAYLAND_DISPLAY, XDG_RUNTIME_DIR, QT_QPA_PLATFORM=wayland and QT_IM_MODULE=none
// and loses DISPLAY, so that nothing falls back to X11 unseen. Ends with the command's status,
// or 77 (skipped) with weston's log when the compositor does not come up.
//
//   with_weston COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/Wait.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: with_weston COMMAND [ARGUMENT...]\n";
        return 2;
    }
    std::string pattern = fs::temp_directory_path() / "vistamo-weston-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return 1;
    }
    const fs::path runtime = pattern;
    const fs::path log = runtime / "weston.log";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::unsetenv("DISPLAY");

    std::vector<std::string> westonArgs{"weston",
                                        "--backend=headless-backend.so",
                                        "--use-gl",
                                        "--debug",
                                        "--socket=wayland-vistamo",
                                        "--width=1600",
                                        "--height=1000",
                                        "--idle-time=0"};
    std::vector<char*> westonArgv;
    for (auto& argument : westonArgs) {
        westonArgv.push_back(argument.data());
    }
    westonArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t weston = -1;
    const bool spawned =
        ::posix_spawnp(&weston, "weston", &actions, nullptr, westonArgv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);

    int raw = 0;
    bool ended = !spawned;
    using namespace std::chrono_literals;
    const bool up = spawned &&
                    vistamo::test::waitUntil(
                        [&] {
                            ended = ::waitpid(weston, &raw, WNOHANG) == weston;
                            return ended || fs::exists(runtime / "wayland-vistamo");
                        },
                        20s) &&
                    !ended;
    int status = 77;
    if (!up) {
        std::cerr << "weston did not start; its log:\n" << std::ifstream(log).rdbuf() << '\n';
    } else {
        ::setenv("WAYLAND_DISPLAY", "wayland-vistamo", 1);
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        // The headless backend has no seat, and Qt 6.4's Wayland text-input context reads the
        // missing seat when a line edit draws its cursor (a crash no desktop with a keyboard
        // meets). Without an input method, line edits draw as on any desktop.
        ::setenv("QT_IM_MODULE", "none", 1);
        pid_t command = -1;
        status = 1;
        if (::posix_spawnp(&command, argv[1], nullptr, nullptr, argv + 1, environ) == 0 &&
            ::waitpid(command, &raw, 0) == command) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
    }
    if (!ended) {
        ::kill(weston, SIGTERM);
        ::waitpid(weston, &raw, 0);
    }
    std::error_code ignored;
    fs::remove_all(runtime, ignored);
    return status;
}
