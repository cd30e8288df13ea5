#include "CameraOptions.h"

#include <asio/ip/address.hpp>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace vistamo::camera {

namespace {

// A day is plenty for an alarm period, and keeps the timer arithmetic far from overflow.
constexpr double kMaxAlarmEverySeconds = 86400;
// The challenge carries the identity's byte count in one byte.
constexpr size_t kMaxUuidBytes = 255;

std::optional<uint16_t> parsePort(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

std::optional<double> parseSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(value) || value <= 0 || value > kMaxAlarmEverySeconds) {
        return std::nullopt;
    }
    return value;
}

// Applies one option that takes a value; returns an error text, or none when it was fine.
std::optional<std::string> applyValue(CameraOptions& options, std::string_view option,
                                      const std::string& value) {
    if (option == "--port") {
        const auto port = parsePort(value);
        if (!port) {
            return "--port needs a number from 0 to 65535, not '" + value + "'";
        }
        options.port = *port;
    } else if (option == "--bind") {
        std::error_code error;
        asio::ip::make_address(value, error);
        if (error) {
            return "--bind needs an IPv4 or IPv6 address, not '" + value + "'";
        }
        options.bindAddress = value;
    } else if (option == "--password") {
        options.password = value;
    } else if (option == "--name") {
        options.name = value;
    } else if (option == "--uuid") {
        if (value.size() > kMaxUuidBytes) {
            return "--uuid takes at most 255 bytes";
        }
        options.uuid = value;
    } else if (option == "--alarm-every") {
        const auto seconds = parseSeconds(value);
        if (!seconds) {
            return "--alarm-every needs a number of seconds above 0 and at most 86400, not '" +
                   value + "'";
        }
        options.alarmEverySeconds = *seconds;
    } else if (isMediaValueOption(option)) {
        return applyMediaValue(options.media, option, value);
    } else if (isDiscoveryValueOption(option)) {
        return applyDiscoveryValue(options.discovery, option, value);
    }
    return std::nullopt;
}

bool takesValue(std::string_view option) {
    return isMediaValueOption(option) || isDiscoveryValueOption(option) || option == "--port" ||
           option == "--bind" || option == "--password" || option == "--name" ||
           option == "--uuid" || option == "--alarm-every";
}

}  // namespace

ParsedOptions parseCameraOptions(const std::vector<std::string>& arguments) {
    CameraOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return ShowHelp{};
        }
        if (argument == "--control") {
            options.control = true;
            continue;
        }
        if (isMediaFlag(argument)) {
            applyMediaFlag(options.media, argument);
            continue;
        }
        if (isDiscoveryFlag(argument)) {
            applyDiscoveryFlag(options.discovery, argument);
            continue;
        }
        std::string_view option = argument;
        std::optional<std::string> value;
        if (const size_t equals = argument.find('=');
            argument.starts_with("--") && equals != std::string::npos) {
            option = std::string_view(argument).substr(0, equals);
            value = argument.substr(equals + 1);
        }
        if (!takesValue(option)) {
            if (!argument.starts_with("-")) {
                return OptionError{"unexpected argument '" + argument + "'"};
            }
            return OptionError{"unknown option '" + std::string(option) + "'"};
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                return OptionError{std::string(option) + " needs a value"};
            }
            value = arguments[++i];
        }
        if (auto error = applyValue(options, option, *value)) {
            return OptionError{std::move(*error)};
        }
    }
    return options;
}

std::string cameraHelpText() {
    return R"(Usage: vistamo-camera [OPTION]...
A stand-in for a phone camera: it accepts viewer sessions on TCP, challenges each client,
checks its password, keeps torch, screen, lens and motion-guard state, and prints every
message it receives and sends. Clients that ask get a moving test picture and a tone.

Options:
  --port N              TCP port to listen on (default 7341; 0 picks any free port).
  --bind ADDR           Listen on this IPv4 or IPv6 address only (default: every address,
                        IPv6 and IPv4 where the host has IPv6).
  --password TEXT       Password a client must send (default: none, so a client that sends
                        an empty password is accepted).
  --name TEXT           Device name sent in the challenge (default "Test Camera").
  --uuid TEXT           Identity sent in the challenge, at most 255 bytes
                        (default 5A3C0E17B2D94F6880A1C4E7D2B93F05).
  --alarm-every SECONDS While motion guard is armed, send an alarm (command 2) to every
                        client this often; fractions allowed (default: never).
  --size WxH            Picture size, even numbers from 192x32 to 3840x2160 (default 320x240).
  --fps N               Pictures per second, 1 to 60 (default 25).
  --gop N               Pictures from one key frame to the next, 1 to 25 (default 25).
  --bframes             One non-reference B picture between reference pictures.
  --two-slices          Every picture as two slices, in two 102 messages with details 1.
  --tone HZ             Frequency of the tone sent as audio, 20 to 20000 (default 440).
  --no-audio            Send no audio.
  --no-video            Send no video.
  --intercom-wav PATH   Append the clients' intercom audio (104) to this WAV file, 16-bit
                        mono 48000 Hz; made anew at start, and whole at every moment.
  --loop SECONDS        Encode this many seconds (1 to 60, whole key-frame groups) once at
                        start and stream them over and over: time stamps keep counting, the
                        frame number drawn in the picture repeats with the loop.
  --no-discovery        Do not take part in discovery. By default the camera answers scan
                        requests on UDP port 10221 (group 239.255.0.8 and ff15::1, on every
                        multicast interface and loopback, or with --bind on that address's
                        interface only), announces itself at start and says goodbye at the
                        end; --discovery turns it back on. The identity must then be at most
                        127 bytes.
  --answer-kind KIND    Answer scan requests with "iamin" (the default: the TCP port is in
                        the datagram) or "response" (sent from a UDP port equal to the TCP
                        port).
  --control             Read control commands from standard input, one per line (below).
                        The camera ends when standard input closes.
  -h, --help            Show this text and exit.

Control commands (with --control):
  alarm                 Send an alarm (2) to every client now, armed or not.
  status                Send the camera status (18) to every client now.
  send HEX              Send these bytes to every client as they are (hex digits; blanks
                        between bytes are allowed).
  close                 Close every connection (after what is already queued is sent).
  close-mid-body        Send every client a header announcing a 100-byte body, then
                        10 bytes of it, then close.
  challenge             Challenge every client again (1, then 50).
  restart-stream        Start every stream anew (30, then 101 and a key frame).
  quit                  End the camera.
Each command is acknowledged with "control ok <command>" or "control error <reason>".

Streaming: a verified client that sends 16 gets a stream of its own. It starts with 30
without a body (again after restart-stream), then carries the picture as H.264 (101 with the
parameter sets before every key frame, every key frame an IDR picture; one 102 per slice,
details2 the time stamp in seconds as a float) and the tone as Opus (one 104 every 10 ms,
480 samples at 48000 Hz). Each picture shows its frame number (from 0 at the stream's start,
modulo 4096) as 12 blocks of 16x16 pixels at its top left, bit 0 first, white for a 1 and
black for a 0. The client's own 104 packets are decoded (and kept with --intercom-wav).

Standard output, one line per event, flushed at once. N is the connection number (from 1),
HEX lower-case hex without blanks of at most the first 64 bytes of the message, header
included; numbers in decimal unless written 0x (8 hex digits):
  listening on port P
  connected from ADDR:PORT conn=N           (IPv6 addresses in brackets)
  recv NAME length=L type=T details=0xD details2=0xD bytes=HEX conn=N
  send NAME length=L type=T details=0xD details2=0xD bytes=HEX conn=N
  send raw bytes=HEX conn=N                 (bytes of a "send" control command)
  skip NAME length=L type=T details=0xD details2=0xD bytes=HEX reason=R conn=N
                                            (a garbage header, R one of bad-type,
                                            short-length, long-length; the next 24 bytes
                                            are read as a header)
  ignored NAME conn=N                       (a code the camera does not know, or a known
                                            code with a body where none belongs or the
                                            other way round)
  verified conn=N
  password rejected conn=N
  client challenge check=ok|bad conn=N      (the client's own challenge, command 1)
  client identity ID name NAME conn=N       (in ID and NAME a backslash is written \\
                                            and a byte that is neither printable ASCII
                                            nor part of valid UTF-8 is written \xHH)
  client identity unreadable conn=N
  stream requested conn=N
  stream refused not-verified conn=N        (16 before the password check passed)
  stream started conn=N                     (30 follows)
  stream error TEXT conn=N                  (that stream's video or audio ends)
  intercom packet samples=N conn=N          (a 104 from the client, decoded)
  intercom dropped reason=R conn=N          (R one of undecodable, too-long: above 480
                                            samples)
  intercom refused not-verified conn=N
  intercom error TEXT conn=N
  intercom wav error TEXT                   (nothing more is written; the file stays whole)
  disconnect requested conn=N               (the client sent 200)
  closed by peer conn=N
  connection error TEXT conn=N
  closed conn=N                             (the camera closed it)
  accept error TEXT                         (accepting is tried again shortly)
  discovery announce                        (an I-am-in went to the group at start)
  discovery request from ADDR:PORT          (a scan request)
  discovery answer iamin|response to ADDR:PORT
  discovery unanswered request from ADDR:PORT: REASON
  discovery leave                           (an I-am-out went to the group at the end)
  discovery error TEXT
  control ok COMMAND | control error TEXT
  stopped                                   (the last line)
NAME is a command name such as CmdFlashSwitch, or Cmd<code> for a code without a name.

Exit status: 0 after quit, SIGINT, SIGTERM or the end of control input; 1 when the port,
the encoders or the --intercom-wav file cannot be opened; 2 for bad options.
)";
}

}  // namespace vistamo::camera
