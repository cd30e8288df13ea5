#pragma once

#include <string_view>

namespace vistamo {

// A console line for people and logs: "vistamo: <text>" on standard error. Thread-safe; lines
// from different threads never interleave.
void logLine(std::string_view text);

// A fixed diagnostic line on standard output, exactly as given (the application prints a few,
// such as "close window"); thread-safe.
void printLine(std::string_view text);

}  // namespace vistamo
