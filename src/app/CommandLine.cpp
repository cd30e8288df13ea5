#include "app/CommandLine.h"

#include "settings/OptionData.h"

namespace vistamo {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (argument == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (argument == "--verbose") {
            result.verbose = true;
        } else if (result.unknown.empty()) {
            result.unknown = argument.empty() ? std::string("\"\"") : argument;
        }
    }
    if (!result.unknown.empty()) {
        result.action = CommandLine::Action::Unknown;
    }
    return result;
}

std::string commandLineHelp() {
    return "Usage: vistamo [--verbose]\n"
           "Watch and control phone cameras on the local network.\n"
           "\n"
           "  --verbose   also print the running commentary: the debug messages of the\n"
           "              logging category vistamo, which QT_LOGGING_RULES=\"vistamo.debug=true\"\n"
           "              shows as well\n"
           "  --version   print the version and end\n"
           "  -h, --help  print this text and end\n"
           "\n"
           "Qt's own options are accepted too, such as -platform wayland or -platform xcb.\n"
           "On Wayland, an alarm cannot bring another application to the front: the\n"
           "compositor lets no application raise another's windows, so that action is\n"
           "skipped with one line on standard error. Everything else works the same.\n";
}

std::string commandLineVersion() { return "vistamo " + readableVersionText() + "\n"; }

}  // namespace vistamo
