// Runs one command on a Wayland compositor of its own: weston with its headless backend and GL
// renderer (Mesa), its socket in a fresh runtime folder, screenshots allowed (--debug). The
// command gets WAYLAND_DISPLAY, XDG_RUNTIME_DIR, QT_QPA_PLATFORM=wayland and QT_IM_MODULE=none
// and loses DISPLAY, so that nothing falls back to X11 unseen. Ends with the command's status,
// or 77 (skipped) with weston's log when the compositor does not come up.
//
//   with_weston COMMAND [ARGUMENT...]
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/Spawn.h"
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

    using namespace std::chrono_literals;
    using namespace vistamo::test;
    const pid_t weston =
        spawnProcess({"weston", "--backend=headless-backend.so", "--use-gl", "--debug",
                      "--socket=wayland-vistamo", "--width=1600", "--height=1000", "--idle-time=0"},
                     {.log = log});
    bool ended = weston < 0;
    const bool up = !ended &&
                    waitUntil(
                        [&] {
                            ended = reapProcess(weston, 0ms).has_value();
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
        const pid_t command = spawnProcess(std::vector<std::string>(argv + 1, argv + argc));
        status = command > 0 ? reapProcess(command, 24h).value_or(1) : 1;
    }
    if (!ended) {
        endProcess(weston, 1h);
    }
    std::error_code ignored;
    fs::remove_all(runtime, ignored);
    return status;
}
