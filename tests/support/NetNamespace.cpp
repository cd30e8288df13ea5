#include "support/NetNamespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

#include "support/Spawn.h"

namespace vistamo::test {

bool runCommand(const std::vector<std::string>& arguments, std::string* output) {
    std::string ignored;
    std::string& text = output != nullptr ? *output : ignored;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        text = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = spawnProcess(arguments, {.output = pipeEnds[1], .errorsToOutput = true});
    const int spawned = errno;
    ::close(pipeEnds[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        text = arguments[0] + ": " + std::strerror(spawned);
        return false;
    }
    char chunk[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], chunk, sizeof chunk)) != 0;) {
        if (n > 0) {
            text.append(chunk, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(pipeEnds[0]);
    return reapProcess(child, std::chrono::hours(1)) == 0;
}

namespace {

constexpr const char* kNamespacePrefix = "vistamo-test-";
constexpr const char* kNamespaceFolder = "/run/netns/";

// Removes the namespaces of test programs that ended without removing theirs.
void removeAbandonedNamespaces() {
    std::vector<std::string> abandoned;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kNamespaceFolder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kNamespacePrefix, 0) != 0) {
            continue;
        }
        const pid_t owner =
            static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kNamespacePrefix)));
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
            abandoned.push_back(name);
        }
    }
    for (const std::string& name : abandoned) {
        runCommand({"ip", "netns", "del", name});
    }
}

}  // namespace

NetNamespace::NetNamespace() {
    static std::atomic<int> made{0};
    const std::string stem =
        kNamespacePrefix + std::to_string(::getpid()) + "-" + std::to_string(made++);
    hosts_[0] = Host{stem + "-a", "10.213.0.1", "fd00:213::1"};
    hosts_[1] = Host{stem + "-b", "10.213.0.2", "fd00:213::2"};

    std::string said;
    if (!runCommand({"ip", "-V"}, &said)) {
        reason_ = "network namespaces need iproute2's `ip`, which cannot be run: " + said;
        return;
    }
    if (::geteuid() != 0) {
        reason_ = "network namespaces need root";
        return;
    }
    removeAbandonedNamespaces();

    for (const Host& host : hosts_) {
        if (!step({"ip", "netns", "add", host.namespaceName})) {
            return;
        }
        madeNamespaces_.push_back(host.namespaceName);
    }
    // Both ends are made straight inside their namespaces, so no en0 ever shows up outside.
    if (!step({"ip", "link", "add", "en0", "netns", hosts_[0].namespaceName, "type", "veth", "peer",
               "name", "en0", "netns", hosts_[1].namespaceName})) {
        return;
    }
    for (size_t index = 0; index < hosts_.size(); ++index) {
        const Host& self = hosts_[index];
        const Host& other = hosts_[1 - index];
        const std::string& ns = self.namespaceName;
        const bool made =
            step({"ip", "-n", ns, "link", "set", "lo", "up"}) &&
            step({"ip", "-n", ns, "link", "set", "en0", "multicast", "on"}) &&
            step({"ip", "-n", ns, "addr", "add", self.ipv4 + "/24", "dev", "en0"}) &&
            // No duplicate address detection: the address is usable at once.
            step({"ip", "-n", ns, "-6", "addr", "add", self.ipv6 + "/64", "dev", "en0", "nodad"}) &&
            step({"ip", "-n", ns, "link", "set", "en0", "up"}) &&
            step({"ip", "-n", ns, "route", "add", "default", "via", other.ipv4, "dev", "en0"}) &&
            step(
                {"ip", "-n", ns, "-6", "route", "add", "default", "via", other.ipv6, "dev", "en0"});
        if (!made) {
            return;
        }
    }
    available_ = true;
}

NetNamespace::~NetNamespace() { removeAll(); }

bool NetNamespace::step(const std::vector<std::string>& arguments) {
    std::string said;
    if (runCommand(arguments, &said)) {
        return true;
    }
    reason_ = "cannot make the test hosts: `";
    for (const std::string& argument : arguments) {
        reason_ += argument + " ";
    }
    reason_ += "` failed: " + said;
    removeAll();
    return false;
}

void NetNamespace::removeAll() {
    // A namespace goes once nothing uses it any more; its end of the veth pair goes with it,
    // and the other end with that.
    for (const std::string& name : madeNamespaces_) {
        runCommand({"ip", "netns", "del", name});
    }
    madeNamespaces_.clear();
    available_ = false;
}

bool NetNamespace::run(size_t index, const std::function<void()>& work) {
    const std::string path = kNamespaceFolder + host(index).namespaceName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool entered = false;
    std::exception_ptr thrown;
    std::thread inside([&] {
        // Only this thread moves; the rest of the process stays where it is.
        if (::setns(fd, CLONE_NEWNET) != 0) {
            return;
        }
        entered = true;
        try {
            work();
        } catch (...) {
            thrown = std::current_exception();
        }
    });
    inside.join();
    ::close(fd);
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    return entered;
}

bool NetNamespace::ip(size_t index, const std::vector<std::string>& arguments,
                      std::string* output) {
    std::vector<std::string> command{"ip", "-n", host(index).namespaceName};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runCommand(command, output);
}

bool NetNamespace::setLinkUp(size_t index, bool up) {
    return ip(index, {"link", "set", "en0", up ? "up" : "down"});
}

}  // namespace vistamo::test
