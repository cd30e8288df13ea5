#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vistamo::test {

// Runs a program found on PATH and collects what it prints (standard output and error
// together) into `output`; true when it ran and exited with 0.
bool runCommand(const std::vector<std::string>& arguments, std::string* output = nullptr);

// Two test hosts, each in a network namespace of its own, joined by a veth pair whose ends are
// both named en0. Host 0 has 10.213.0.1/24 and fd00:213::1/64, host 1 10.213.0.2/24 and
// fd00:213::2/64; lo and en0 are up, en0 has multicast on, and the default routes lead to the
// other host. Nothing is sent anywhere else.
//
// Make it first in a test, so that it goes last; its destructor removes both namespaces, and
// the next NetNamespace removes those a crashed test program left (their names carry the
// process id). Skip when !available() (it needs root and `ip`).
//
// Code enters a host only through `run`: the work runs on a new thread inside the namespace.
// What that thread makes (sockets, netlink sockets, threads it starts) stays in the namespace
// whichever thread uses it later, so make the object under test inside `run`. Inside it,
// /proc/net still shows the process's first thread; its own view is /proc/thread-self/net.
//
// Threads: made, used and destroyed by the test's thread.
class NetNamespace {
public:
    struct Host {
        std::string namespaceName;
        std::string ipv4;  // without prefix length
        std::string ipv6;
    };

    NetNamespace();
    ~NetNamespace();

    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool available() const { return available_; }
    // Why the hosts could not be made: the first failing step and what it printed.
    const std::string& unavailableReason() const { return reason_; }

    const Host& host(size_t index) const { return hosts_.at(index); }

    // Runs `work` on a thread of its own inside host `index`'s namespace and waits for it; what
    // it throws is thrown here. False, without running it, when the namespace cannot be entered.
    bool run(size_t index, const std::function<void()>& work);

    // `ip -n <host's namespace> arguments...`; true when it succeeded. What it printed goes to
    // `output` when given.
    bool ip(size_t index, const std::vector<std::string>& arguments, std::string* output = nullptr);

    // Takes host `index`'s en0 down or brings it up again.
    bool setLinkUp(size_t index, bool up);

private:
    bool step(const std::vector<std::string>& arguments);
    void removeAll();

    std::array<Host, 2> hosts_;
    std::vector<std::string> madeNamespaces_;
    bool available_ = false;
    std::string reason_;
};

}  // namespace vistamo::test
