#include "workspace/LinuxWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

// The kernel's "this is a kernel thread" flag in /proc/PID/stat.
constexpr unsigned long kKernelThreadFlag = 0x00200000;
// The kernel truncates process names to this many bytes.
constexpr size_t kKernelNameLength = 15;
// Bounds on what is read from files that other processes and users control.
constexpr size_t kMaxProcFileBytes = 4096;
constexpr size_t kMaxDesktopEntryBytes = 256 * 1024;

// Refuses FIFOs and devices rather than waiting on them, and files past `maxBytes`.
std::optional<std::string> readSmallFile(const std::string& path, size_t maxBytes) {
    const std::optional<Bytes> bytes = readWholeFile(path, maxBytes);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

struct ProcStat {
    char state = '?';
    unsigned long flags = 0;
    uint64_t startTime = 0;
};

// Fields of /proc/PID/stat. The name in parentheses may hold spaces and ')', so the fields
// are counted from the last ')'.
std::optional<ProcStat> readProcStat(pid_t pid) {
    const auto text = readSmallFile("/proc/" + std::to_string(pid) + "/stat", kMaxProcFileBytes);
    if (!text) {
        return std::nullopt;
    }
    const size_t close = text->rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text->substr(close + 1));
    std::vector<std::string> tokens;
    std::string token;
    while (fields >> token && tokens.size() < 20) {
        tokens.push_back(token);
    }
    // tokens[0] is field 3 (state); flags is field 9, the start time field 22.
    if (tokens.size() < 20 || tokens[0].size() != 1) {
        return std::nullopt;
    }
    ProcStat stat;
    stat.state = tokens[0][0];
    char* end = nullptr;
    errno = 0;
    stat.flags = std::strtoul(tokens[6].c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    stat.startTime = std::strtoull(tokens[19].c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return stat;
}

bool ownedByUser(pid_t pid) {
    struct stat info {};
    return ::stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0 &&
           info.st_uid == ::geteuid();
}

std::string processName(pid_t pid) {
    auto comm = readSmallFile("/proc/" + std::to_string(pid) + "/comm", kMaxProcFileBytes)
                    .value_or(std::string());
    if (!comm.empty() && comm.back() == '\n') {
        comm.pop_back();
    }
    if (comm.size() < kKernelNameLength) {
        return comm;
    }
    // A name cut by the kernel: the executable's file name, when it begins with what is left.
    char target[PATH_MAX];
    const ssize_t length =
        ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return comm;
    }
    std::string exe(target, static_cast<size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.ends_with(kDeleted)) {
        exe.resize(exe.size() - kDeleted.size());
    }
    const std::string base = exe.substr(exe.rfind('/') + 1);
    return base.starts_with(comm) ? base : comm;
}

std::optional<pid_t> pidOf(const char* entry) {
    if (*entry == '\0') {
        return std::nullopt;
    }
    long value = 0;
    for (const char* c = entry; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 100'000'000) {
            return std::nullopt;
        }
        value = value * 10 + (*c - '0');
    }
    return value > 0 ? std::optional<pid_t>(static_cast<pid_t>(value)) : std::nullopt;
}

// --- launching ---

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::vector<std::string> splitPathList(const char* value, const char* fallback) {
    const std::string list = (value != nullptr && *value != '\0') ? value : fallback;
    std::vector<std::string> folders;
    std::string folder;
    std::istringstream in(list);
    while (std::getline(in, folder, ':')) {
        // Relative entries (and the empty one, meaning the current folder) would make what is
        // started depend on where the viewer happens to run.
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
    }
    return folders;
}

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        folders.emplace_back(dataHome);
    } else if (home != nullptr && home[0] == '/') {
        folders.push_back(std::string(home) + "/.local/share");
    }
    for (auto& folder :
         splitPathList(std::getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share")) {
        folders.push_back(std::move(folder));
    }
    for (auto& folder : folders) {
        folder += "/applications/";
    }
    return folders;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> findOnPath(const std::string& name) {
    for (const auto& folder : splitPathList(std::getenv("PATH"), "/usr/local/bin:/usr/bin:/bin")) {
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// The value of a "string" key: \s, \n, \t, \r and \\ resolved; other escapes kept as they
// stand, for the Exec quoting rules to read.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

struct DesktopEntry {
    std::string exec;
    bool hidden = false;
    std::string type;
};

std::optional<DesktopEntry> readDesktopEntry(const std::string& path) {
    const auto text = readSmallFile(path, kMaxDesktopEntryBytes);
    if (!text) {
        return std::nullopt;
    }
    DesktopEntry entry;
    bool inMainGroup = false;
    bool sawExec = false;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        size_t start = equals + 1;
        while (start < line.size() && line[start] == ' ') {
            ++start;
        }
        const std::string value = line.substr(start);
        if (key == "Exec" && !sawExec) {
            sawExec = true;
            entry.exec = unescapeValue(value);
        } else if (key == "Hidden") {
            entry.hidden = value == "true";
        } else if (key == "Type") {
            entry.type = value;
        }
    }
    if (!sawExec) {
        return std::nullopt;
    }
    return entry;
}

// --- signals ---

// The process `app` names, if it is still that process and ours: opened as a pidfd first, so
// that the check and the signal reach the same process even if the pid is reused meanwhile.
bool signalProcess(const RunningApplication& app, int signal, const char* what) {
    if (app.processIdentifier <= 1) {
        logLine(std::string(what) + ": refusing pid " + std::to_string(app.processIdentifier));
        return false;
    }
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, app.processIdentifier, 0));
    if (pidfd < 0 && errno != ENOSYS) {
        logLine(std::string(what) + ": process " + std::to_string(app.processIdentifier) +
                " is gone");
        return false;
    }
    const auto stat = readProcStat(app.processIdentifier);
    const bool same = stat && (app.startTime == 0 || stat->startTime == app.startTime) &&
                      ownedByUser(app.processIdentifier);
    bool sent = false;
    if (!same) {
        logLine(std::string(what) + ": process " + std::to_string(app.processIdentifier) +
                " is no longer " + app.localizedName);
    } else if (pidfd >= 0) {
        sent = ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
    } else {
        sent = ::kill(app.processIdentifier, signal) == 0;
    }
    if (same && !sent) {
        logLine(std::string(what) + " " + app.localizedName + ": " + std::strerror(errno));
    }
    if (pidfd >= 0) {
        ::close(pidfd);
    }
    return sent;
}

// --- X11 ---

struct XcbDeleter {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::vector<xcb_window_t> windowListProperty(xcb_connection_t* connection, xcb_window_t window,
                                             xcb_atom_t property) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1u << 16),
        nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_WINDOW) {
        return {};
    }
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<xcb_window_t>(windows, windows + (count > 0 ? count : 0));
}

// The managed windows the window manager lists, else (no window manager) the root's children.
std::vector<xcb_window_t> topLevelWindows(xcb_connection_t* connection, xcb_window_t root) {
    auto windows = windowListProperty(connection, root, internAtom(connection, "_NET_CLIENT_LIST"));
    if (!windows.empty()) {
        return windows;
    }
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) {
        return {};
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(children,
                                     children + xcb_query_tree_children_length(tree.get()));
}

std::optional<uint32_t> cardinalProperty(xcb_connection_t* connection, xcb_window_t window,
                                         xcb_atom_t property) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    uint32_t value = 0;
    std::memcpy(&value, xcb_get_property_value(reply.get()), sizeof value);
    return value;
}

// A Wayland session: the application talks to a Wayland compositor, or the login says so (an X11
// program on Xwayland sees DISPLAY too).
bool waylandSession() {
    const char* socket = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (socket != nullptr && *socket != '\0') ||
           (type != nullptr && std::strcmp(type, "wayland") == 0);
}

}  // namespace

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    std::vector<RunningApplication> applications;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        logLine(std::string("cannot list running applications: ") + std::strerror(errno));
        return applications;
    }
    while (const dirent* entry = ::readdir(proc.get())) {
        const auto pid = pidOf(entry->d_name);
        if (!pid || !ownedByUser(*pid)) {
            continue;
        }
        // A process may end at any point here; it is then simply left out.
        const auto stat = readProcStat(*pid);
        if (!stat || (stat->flags & kKernelThreadFlag) != 0 || stat->state == 'Z' ||
            stat->state == 'X') {
            continue;
        }
        std::string name = processName(*pid);
        if (name.empty()) {
            continue;
        }
        applications.push_back({*pid, std::move(name), stat->startTime});
    }
    return applications;
}

std::optional<std::vector<std::string>> LinuxWorkspace::splitExecLine(const std::string& exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::strchr("\"`$\\", exec[i + 1]) != nullptr) {
                current += exec[++i];
            } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
                current += '%';
                ++i;
            } else if (c == '%') {
                return std::nullopt;
            } else {
                current += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            inArgument = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            if (exec[++i] == '%') {
                current += '%';
                inArgument = true;
            }
            // Any other field code stands for file names, URLs, icons or the entry's own
            // name: nothing of that is passed, so it is dropped.
        } else if (c == '%') {
            return std::nullopt;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    if (arguments.empty()) {
        return std::nullopt;
    }
    return arguments;
}

std::optional<std::vector<std::string>> LinuxWorkspace::commandFor(const std::string& name) {
    if (!isPlainName(name)) {
        return std::nullopt;
    }
    for (const auto& folder : applicationFolders()) {
        const std::string path = folder + name + ".desktop";
        if (::access(path.c_str(), F_OK) != 0) {
            continue;
        }
        // The first entry of that name hides the ones after it, even when it cannot be used.
        const auto entry = readDesktopEntry(path);
        if (!entry || entry->hidden || (!entry->type.empty() && entry->type != "Application")) {
            logLine("desktop entry " + path + " has nothing to start");
            return std::nullopt;
        }
        auto arguments = splitExecLine(entry->exec);
        if (!arguments) {
            logLine("desktop entry " + path + " has a malformed Exec line");
            return std::nullopt;
        }
        std::string& program = arguments->front();
        if (program.find('/') == std::string::npos) {
            const auto found = findOnPath(program);
            if (!found) {
                logLine("desktop entry " + path + ": " + program + " is not on PATH");
                return std::nullopt;
            }
            program = *found;
        } else if (!isExecutableFile(program)) {
            logLine("desktop entry " + path + ": " + program + " is not an executable file");
            return std::nullopt;
        }
        return arguments;
    }
    if (const auto found = findOnPath(name)) {
        return std::vector<std::string>{*found};
    }
    return std::nullopt;
}

bool LinuxWorkspace::launchApplication(const std::string& name) {
    if (!isPlainName(name)) {
        logLine("not launching \"" + name + "\": not a plain application name");
        return false;
    }
    const auto command = commandFor(name);
    if (!command) {
        logLine("not launching " + name + ": no desktop entry or program of that name");
        return false;
    }
    // Everything the children need is made before forking: between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    for (const auto& argument : *command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        logLine("not launching " + name + ": " + std::strerror(errno));
        return false;
    }

    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        logLine("not launching " + name + ": " + std::strerror(error));
        return false;
    }
    if (child == 0) {
        // The intermediate child: a new session, then the program as its child, so that the
        // program is never this process's child and init reaps it.
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int error = errno;
                (void)!::write(report[1], &error, sizeof error);
            }
            ::_exit(0);
        }
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO) {
                ::close(null);
            }
        }
        // Descriptors this process left inheritable stay with it.
        ::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) {
            ::sigaction(signal, &defaults, nullptr);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }

    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes when the program has been executed (close-on-exec) or has failed.
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        logLine("launching " + name + " (" + command->front() +
                ") failed: " + std::strerror(error));
        return false;
    }
    return true;
}

bool LinuxWorkspace::activate(const RunningApplication& app) {
    // A Wayland compositor lets no client raise another's windows; the X11 request below would
    // reach only programs on Xwayland, and even those are refused the focus. Said once.
    if (waylandSession()) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) {
            logLine("cannot bring " + app.localizedName +
                    " to the front: on Wayland no application may raise another's windows");
        }
        return false;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return false;
    }
    std::unique_ptr<xcb_connection_t, XcbDeleter> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()) != 0) {
        logLine(std::string("cannot activate ") + app.localizedName + ": no X display " + display);
        return false;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data;
    if (screen == nullptr) {
        return false;
    }
    const xcb_atom_t wmPid = internAtom(connection.get(), "_NET_WM_PID");
    const xcb_atom_t activeWindow = internAtom(connection.get(), "_NET_ACTIVE_WINDOW");
    if (wmPid == XCB_ATOM_NONE || activeWindow == XCB_ATOM_NONE) {
        return false;
    }
    bool sent = false;
    for (const xcb_window_t window : topLevelWindows(connection.get(), screen->root)) {
        const auto pid = cardinalProperty(connection.get(), window, wmPid);
        if (!pid || *pid != static_cast<uint32_t>(app.processIdentifier)) {
            continue;
        }
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = activeWindow;
        event.data.data32[0] = 2;  // source indication: a pager, acting for the user
        event.data.data32[1] = XCB_CURRENT_TIME;
        event.data.data32[2] = XCB_WINDOW_NONE;
        xcb_send_event(connection.get(), 0, screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
        sent = true;
    }
    // A round trip before disconnecting: the server may drop requests it has not yet handled
    // from a client that has gone.
    std::free(xcb_get_input_focus_reply(connection.get(), xcb_get_input_focus(connection.get()),
                                        nullptr));
    return sent;
}

bool LinuxWorkspace::forceTerminate(const RunningApplication& app) {
    return signalProcess(app, SIGKILL, "force-terminate");
}

bool LinuxWorkspace::terminate(const RunningApplication& app) {
    return signalProcess(app, SIGTERM, "terminate");
}

}  // namespace vistamo
