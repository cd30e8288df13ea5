#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vistamo::test {

// A private PipeWire for one test: a session dbus-daemon, pipewire and wireplumber in a
// temporary runtime folder, without systemd. This process's environment points PipeWire
// clients (ours and the children the test starts) at it while it lives; the destructor ends
// the three and puts the environment back. The constructor throws std::runtime_error when a
// daemon does not come up; their output is in `logFolder()`.
class PipeWireDaemons {
public:
    PipeWireDaemons();
    ~PipeWireDaemons();

    PipeWireDaemons(const PipeWireDaemons&) = delete;
    PipeWireDaemons& operator=(const PipeWireDaemons&) = delete;

    const std::filesystem::path& runtimeFolder() const { return folder_; }
    std::filesystem::path logFolder() const { return folder_ / "logs"; }

    // What `pw-dump` prints now.
    std::string dump() const;
    // The properties block of the node called `nodeName` in `dump`, as text; none when there
    // is no such node.
    static std::optional<std::string> nodeProperties(const std::string& dump,
                                                     const std::string& nodeName);
    // The value of the text property `key` in a properties block; none when absent.
    static std::optional<std::string> property(const std::string& properties,
                                               const std::string& key);

private:
    // Ends the daemons, restores the environment and removes the folder.
    void stop();

    std::filesystem::path folder_;
    std::vector<pid_t> daemons_;  // in starting order
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

// Runs `argv` to its end and returns its standard output; none when it could not start or
// ended with another status than 0.
std::optional<std::string> runForOutput(const std::vector<std::string>& argv);

}  // namespace vistamo::test
