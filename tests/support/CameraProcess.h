#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/ChildProcess.h"

namespace vistamo::test {

// A running vistamo-camera for a test, ready once it has printed "listening on port N"; the
// constructor throws std::runtime_error otherwise. Its output lines are followed as
// ChildProcess follows them, and its standard input takes control commands.
//
// Discovery stays off unless the arguments turn it on ("--discovery"), so that a camera started
// on the test machine announces nothing on its network. `commandPrefix` runs the camera through
// another program, such as {"ip", "netns", "exec", NAME}, which must exec the camera in its own
// place so that signals reach it.
class CameraProcess : public ChildProcess {
public:
    explicit CameraProcess(std::vector<std::string> arguments = {"--port", "0", "--control"},
                           std::vector<std::string> commandPrefix = {});

    uint16_t port() const { return port_; }

    // Writes one control command. False when the camera no longer reads.
    bool sendControl(std::string_view command) { return writeLine(command); }

    // Prints what the camera printed, for a failed test, except the lines matching `skip` (a
    // regular expression of what is printed for every message, such as "CmdVideoFrame").
    void printLines(const std::string& skip = {}) const;

private:
    uint16_t port_ = 0;  // set once by the constructor
};

}  // namespace vistamo::test
