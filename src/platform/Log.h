#pragma once

#include <string_view>

namespace vistamo {

// A console line for people and logs: "vistamo: <text>" on standard error. Thread-safe; lines
// from different threads never interleave. Kept for what a user can act on: a failure, a
// missing device, a file that cannot be written.
void logLine(std::string_view text);

// A line on standard output, exactly as given; thread-safe. The test camera's transcript.
void printLine(std::string_view text);

// A line of the application's running commentary ("window did load", "camera found", ...):
// nothing a user needs to act on. Handed to the debug sink when one is set, dropped
// otherwise, so the program is quiet by default. Thread-safe.
void debugLine(std::string_view text);

// Where debug lines go; nullptr drops them. Set once at start, before other threads run
// (the pointer itself is atomic, so a late change is still safe).
using DebugLineSink = void (*)(std::string_view text);
void setDebugLineSink(DebugLineSink sink);

}  // namespace vistamo
