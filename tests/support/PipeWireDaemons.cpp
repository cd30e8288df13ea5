#include "support/PipeWireDaemons.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Spawn.h"
#include "support/Wait.h"

namespace vistamo::test {

namespace fs = std::filesystem;

namespace {

// What the daemons and the test's own clients need to find each other.
std::vector<std::pair<std::string, std::string>> variablesFor(const fs::path& folder) {
    return {
        {"XDG_RUNTIME_DIR", folder.string()},
        {"PIPEWIRE_RUNTIME_DIR", folder.string()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder / "bus").string()},
        {"XDG_STATE_HOME", (folder / "state").string()},
        // Neither daemon should look for a real-time kit or a system bus service here.
        {"PIPEWIRE_LOG_SYSTEMD", "false"},
        {"DISABLE_RTKIT", "1"},
    };
}

}  // namespace

PipeWireDaemons::PipeWireDaemons() {
    std::string pattern = (fs::temp_directory_path() / "vistamo-pipewire-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a runtime folder");
    }
    folder_ = pattern;
    fs::create_directories(logFolder());
    fs::create_directories(folder_ / "state");
    for (const auto& [name, value] : variablesFor(folder_)) {
        const char* old = std::getenv(name.c_str());
        savedEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    const auto start = [this](const std::vector<std::string>& argv, const fs::path& ready) {
        SpawnOptions options;
        options.log = logFolder() / (fs::path(argv[0]).filename().string() + ".log");
        const pid_t pid = spawnProcess(argv, options);
        if (pid < 0) {
            throw std::runtime_error("cannot start " + argv[0]);
        }
        daemons_.push_back(pid);
        if (!ready.empty() && !waitUntil([&] { return fs::exists(ready); })) {
            throw std::runtime_error(argv[0] + " did not come up; see " + options.log.string());
        }
    };
    try {
        start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--address=unix:path=" + (folder_ / "bus").string()},
              folder_ / "bus");
        start({"pipewire"}, folder_ / "pipewire-0");
        start({"wireplumber"}, {});
        // The session manager is ready once its second connection, for the objects it makes, is
        // there; its policy then links streams as they come.
        if (!waitUntil(
                [this] { return dump().find("\"WirePlumber [export]\"") != std::string::npos; },
                std::chrono::seconds(20))) {
            throw std::runtime_error("wireplumber did not come up; see " + logFolder().string());
        }
    } catch (...) {
        stop();
        throw;
    }
}

PipeWireDaemons::~PipeWireDaemons() { stop(); }

void PipeWireDaemons::stop() {
    for (auto pid = daemons_.rbegin(); pid != daemons_.rend(); ++pid) {
        endProcess(*pid, std::chrono::milliseconds(3000));
    }
    daemons_.clear();
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    savedEnvironment_.clear();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        folder_.clear();
    }
}

std::string PipeWireDaemons::dump() const { return runForOutput({"pw-dump"}).value_or(""); }

std::optional<std::string> PipeWireDaemons::nodeProperties(const std::string& dump,
                                                           const std::string& nodeName) {
    // pw-dump prints an array of objects, each opening with "  {" and closing with "  }" on
    // lines of their own; a node's properties are under "props".
    const size_t name = dump.find("\"node.name\": \"" + nodeName + "\"");
    if (name == std::string::npos) {
        return std::nullopt;
    }
    const size_t begin = dump.rfind("\n  {", name);
    const size_t end = dump.find("\n  }", name);
    if (begin == std::string::npos || end == std::string::npos) {
        return std::nullopt;
    }
    return dump.substr(begin, end - begin);
}

std::optional<std::string> PipeWireDaemons::property(const std::string& properties,
                                                     const std::string& key) {
    const std::string opening = "\"" + key + "\": \"";
    const size_t at = properties.find(opening);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const size_t begin = at + opening.size();
    const size_t end = properties.find('"', begin);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    return properties.substr(begin, end - begin);
}

std::optional<std::string> runForOutput(const std::vector<std::string>& argv) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    SpawnOptions options;
    options.output = pipe[1];
    const pid_t pid = spawnProcess(argv, options);
    ::close(pipe[1]);
    if (pid < 0) {
        ::close(pipe[0]);
        return std::nullopt;
    }
    std::string output;
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(pipe[0], chunk, sizeof(chunk));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        output.append(chunk, static_cast<size_t>(count));
    }
    ::close(pipe[0]);
    const auto status = reapProcess(pid, std::chrono::hours(1));
    if (status != 0) {
        return std::nullopt;
    }
    return output;
}

}  // namespace vistamo::test
