#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "DiscoveryOptions.h"
#include "MediaOptions.h"

namespace vistamo::camera {

// The TCP port a camera listens on unless told otherwise.
inline constexpr uint16_t kDefaultCameraPort = 7341;

// What the test camera was started with. Set once in main before anything runs.
struct CameraOptions {
    uint16_t port = kDefaultCameraPort;  // 0: any free port
    // Empty: every address of the host, IPv6 and IPv4 on one socket where the host has IPv6.
    std::string bindAddress;
    // Empty: any client that answers the challenge with an empty password is accepted.
    std::string password;
    std::string name = "Test Camera";
    std::string uuid = "5A3C0E17B2D94F6880A1C4E7D2B93F05";
    // 0: never send alarms by themselves.
    double alarmEverySeconds = 0;
    // Read control commands from standard input.
    bool control = false;
    // What a client that asks for the stream gets.
    MediaOptions media;
    // Whether and how the camera answers scan requests on UDP port 10221.
    DiscoveryOptions discovery;
};

// Parsing ends in options to run with, in a request for the help text, or in an error text
// for people (the program then exits with status 2).
struct ShowHelp {};
struct OptionError {
    std::string message;
};
using ParsedOptions = std::variant<CameraOptions, ShowHelp, OptionError>;

// `arguments` without the program name. Accepts "--option value" and "--option=value".
ParsedOptions parseCameraOptions(const std::vector<std::string>& arguments);

// The text of --help: every option and the format of every line the camera prints.
std::string cameraHelpText();

}  // namespace vistamo::camera
