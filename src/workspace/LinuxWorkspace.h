#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "workspace/Workspace.h"

namespace vistamo {

// The workspace on a Linux desktop.
//
// - Running applications: the processes of this user found in /proc (kernel threads and other
//   users' processes left out), named by the executable's file name, or by the kernel's
//   process name when the executable cannot be read.
// - Launch: the desktop entry NAME.desktop under applications/ of $XDG_DATA_HOME (else
//   ~/.local/share), then of each folder of $XDG_DATA_DIRS (else /usr/local/share:/usr/share);
//   its Exec line is split by the desktop-entry quoting rules, field codes dropped. Without an
//   entry, the executable NAME found on PATH. The program is started directly (never through a
//   shell), in a session of its own, with standard input and output on /dev/null; nothing of
//   NAME or the entry is interpreted as a command line. NAME must be a plain file name: empty
//   names, ".", "..", and names holding '/' or a NUL are refused.
// - Activate: an EWMH _NET_ACTIVE_WINDOW request for each top-level window whose _NET_WM_PID is
//   the application's pid, on the X display of $DISPLAY (nothing without one).
// - Force-terminate: SIGKILL; terminate: SIGTERM. Sent only to this user's process that still
//   has the listed start time, so a reused pid is never signalled.
//
// Holds no state; any thread.
class LinuxWorkspace : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override;
    bool launchApplication(const std::string& name) override;
    bool activate(const RunningApplication& app) override;
    bool forceTerminate(const RunningApplication& app) override;
    bool terminate(const RunningApplication& app) override;

    // The program and arguments that launching `name` would start, or none when there is
    // nothing to start (also for a refused name). Nothing is started.
    static std::optional<std::vector<std::string>> commandFor(const std::string& name);

    // The arguments of a desktop entry's Exec value: quoted arguments unquoted, escapes
    // resolved, field codes (%f, %U, ...) removed and "%%" made "%". None when the value is
    // malformed (an unterminated quote, a field code inside quotes) or empty.
    static std::optional<std::vector<std::string>> splitExecLine(const std::string& exec);
};

}  // namespace vistamo
