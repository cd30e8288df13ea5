#pragma once

#include <string>
#include <vector>

namespace vistamo {

// What the arguments after the program's name ask for. `--help` and `--version` answer and
// end the program; `--verbose` shows the debug lines. Anything else is an argument the program
// does not know (Qt's own options, such as `-platform wayland`, are taken out by Qt first).
struct CommandLine {
    enum class Action { Run, Help, Version, Unknown };

    Action action = Action::Run;
    bool verbose = false;
    // With Action::Unknown: the first argument not understood.
    std::string unknown;
};

// Reads `arguments` (without the program's name). Help and version win over everything else,
// whichever comes first; an unknown argument stops the program only when neither is asked for.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text of `vistamo --help`.
std::string commandLineHelp();

// The text of `vistamo --version`: "vistamo 0.1.0 (build 1)" and a line end.
std::string commandLineVersion();

}  // namespace vistamo
