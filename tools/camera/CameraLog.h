#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Bytes.h"
#include "session/CommandHeader.h"

namespace vistamo::camera {

// The lines the camera prints on standard output. Tests and people read them, so their form is
// fixed; cameraHelpText() lists every one. Each line is flushed as it is printed.

// "CmdFlashSwitch" for a code with a name, "Cmd77" for one without.
std::string commandName(uint32_t command);

// Lower-case hex without blanks of at most the first `limit` bytes.
std::string hexBytes(ByteView bytes, size_t limit = 64);

// Text from the network made safe for one line: a backslash becomes "\\", a byte that is a
// control character, or not part of valid UTF-8, becomes "\xHH".
std::string escapeText(ByteView bytes);

// "VERB NAME length=L type=T details=0x... details2=0x... bytes=HEX" for a message whose
// header is `header` and whose bytes (header included) start with `bytes`.
std::string messageLine(std::string_view verb, const CommandHeader& header, ByteView bytes);

// A line about one connection: `text` followed by " conn=N".
void printConnectionLine(int connection, std::string_view text);

// A line about the camera as a whole.
void printCameraLine(std::string_view text);

}  // namespace vistamo::camera
