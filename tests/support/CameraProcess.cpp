#include "support/CameraProcess.h"

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace vistamo::test {

namespace {

constexpr std::string_view kListening = "listening on port ";

// Discovery first, so that a "--discovery" among the arguments wins. A prefix names its program
// without a path.
std::vector<std::string> cameraCommand(std::vector<std::string> prefix,
                                       const std::vector<std::string>& arguments) {
    prefix.insert(prefix.end(), {VISTAMO_CAMERA_PATH, "--no-discovery"});
    prefix.insert(prefix.end(), arguments.begin(), arguments.end());
    return prefix;
}

}  // namespace

CameraProcess::CameraProcess(std::vector<std::string> arguments,
                             std::vector<std::string> commandPrefix)
    : ChildProcess(cameraCommand(std::move(commandPrefix), arguments)) {
    const auto line = waitForLine(
        [](const std::string& text) { return text.starts_with(kListening); }, kDefaultTimeout * 2);
    const int port = line ? std::atoi(line->c_str() + kListening.size()) : 0;
    if (port <= 0 || port > 65535) {
        stop(std::chrono::milliseconds(1000));
        throw std::runtime_error("vistamo-camera did not report its port");
    }
    port_ = static_cast<uint16_t>(port);
}

void CameraProcess::printLines(const std::string& skip) const {
    const std::regex skipped(skip.empty() ? "$^" : skip);
    for (const std::string& line : lines()) {
        if (skip.empty() || !std::regex_search(line, skipped)) {
            std::printf("camera: %s\n", line.c_str());
        }
    }
}

}  // namespace vistamo::test
