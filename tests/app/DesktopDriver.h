#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vistamo::test {

// Drives the windows of another program on the X display of $DISPLAY, as a person would:
// finds windows by title, clicks, types, asks a window to close, takes a picture of it. Uses
// xdotool and ffmpeg's X11 grabber, and Xlib for the close request.
//
// Test thread only.
class DesktopDriver {
public:
    struct Geometry {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // The mapped windows whose title matches the extended regular expression `titlePattern`.
    static std::vector<unsigned long> visibleWindows(const std::string& titlePattern);
    // The first of them, waiting up to `limit` for one to appear.
    static std::optional<unsigned long> waitForWindow(
        const std::string& titlePattern,
        std::chrono::milliseconds limit = std::chrono::seconds(15));
    // Waits up to `limit` until no mapped window matches.
    static bool waitForNoWindow(const std::string& titlePattern,
                                std::chrono::milliseconds limit = std::chrono::seconds(15));

    static std::optional<Geometry> geometry(unsigned long window);

    // A left click at (x, y) of `window`, origin its top left.
    static bool click(unsigned long window, int x, int y);
    // Gives `window` the keyboard focus, then presses each key chord ("ctrl+n", "Return").
    static bool keys(unsigned long window, const std::vector<std::string>& chords);
    // Gives `window` the keyboard focus and types `text`.
    static bool type(unsigned long window, const std::string& text);

    // What the window's close box does: a WM_DELETE_WINDOW request to its owner.
    static bool requestClose(unsigned long window);

    // A PNG picture of the window's contents.
    static bool screenshot(unsigned long window, const std::string& path);

    // Runs a program and returns its standard output, or none when it could not run or
    // failed.
    static std::optional<std::string> output(const std::vector<std::string>& argv);
};

}  // namespace vistamo::test
