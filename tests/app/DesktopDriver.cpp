#include "app/DesktopDriver.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <thread>

// Xlib last: its macros (None, Status, Bool) clash with names in other headers.
#include <X11/Xlib.h>

extern char** environ;

namespace vistamo::test {

std::optional<std::string> DesktopDriver::output(const std::vector<std::string>& argv) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    std::vector<char*> arguments;
    for (const auto& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int error =
        ::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string text;
    if (error == 0) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(pipeEnds[0]);
    if (error != 0) {
        return std::nullopt;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return text;
}

std::vector<unsigned long> DesktopDriver::visibleWindows(const std::string& titlePattern) {
    std::vector<unsigned long> windows;
    const auto text = output({"xdotool", "search", "--onlyvisible", "--name", titlePattern});
    if (!text) {
        return windows;  // xdotool fails when nothing matches
    }
    std::istringstream lines(*text);
    unsigned long window = 0;
    while (lines >> window) {
        windows.push_back(window);
    }
    return windows;
}

std::optional<unsigned long> DesktopDriver::waitForWindow(const std::string& titlePattern,
                                                          std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (const auto windows = visibleWindows(titlePattern); !windows.empty()) {
            return windows.front();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
}

bool DesktopDriver::waitForNoWindow(const std::string& titlePattern,
                                    std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (visibleWindows(titlePattern).empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

std::optional<DesktopDriver::Geometry> DesktopDriver::geometry(unsigned long window) {
    const auto text = output({"xdotool", "getwindowgeometry", "--shell", std::to_string(window)});
    if (!text) {
        return std::nullopt;
    }
    std::map<std::string, int> values;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
        }
    }
    return Geometry{values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
}

bool DesktopDriver::click(unsigned long window, int x, int y) {
    return output({"xdotool", "mousemove", "--window", std::to_string(window), std::to_string(x),
                   std::to_string(y), "click", "1"})
        .has_value();
}

bool DesktopDriver::keys(unsigned long window, const std::vector<std::string>& chords) {
    std::vector<std::string> argv{
        "xdotool", "windowfocus", std::to_string(window), "sleep", "0.2", "key", "--delay", "80"};
    argv.insert(argv.end(), chords.begin(), chords.end());
    return output(argv).has_value();
}

bool DesktopDriver::type(unsigned long window, const std::string& text) {
    return output({"xdotool", "windowfocus", std::to_string(window), "sleep", "0.2", "type",
                   "--delay", "40", text})
        .has_value();
}

bool DesktopDriver::requestClose(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}

bool DesktopDriver::screenshot(unsigned long window, const std::string& path) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr) {
        return false;
    }
    return output({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "x11grab",
                   "-window_id", std::to_string(window), "-i", display, "-frames:v", "1", path})
        .has_value();
}

}  // namespace vistamo::test
