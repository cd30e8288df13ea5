#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vistamo {

// One application (process) of the user, as the workspace lists it.
struct RunningApplication {
    pid_t processIdentifier = 0;
    // The name the user knows the application by; alarm options match it without regard to
    // case.
    std::string localizedName;
    // When the process started (clock ticks after boot; 0 when unknown). Together with the pid
    // it tells the listed process from a later one that reuses its pid.
    uint64_t startTime = 0;
};

// The desktop services the alarm actions use: the user's running applications, launching an
// application by name, raising one, and ending one.
//
// Called on the main thread. Requests the system refuses return false; the callers ignore the
// result, so implementations log why a request failed.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The user's running applications, in the system's order.
    virtual std::vector<RunningApplication> runningApplications() = 0;

    // Starts the application called `name` (a plain name, no path and no arguments), detached
    // from this process. True when it was started.
    virtual bool launchApplication(const std::string& name) = 0;

    // Brings every window of `app` to the front. True when a request was sent.
    virtual bool activate(const RunningApplication& app) = 0;

    // Ends `app` at once, without letting it save anything.
    virtual bool forceTerminate(const RunningApplication& app) = 0;

    // Asks `app` to end.
    virtual bool terminate(const RunningApplication& app) = 0;
};

}  // namespace vistamo
