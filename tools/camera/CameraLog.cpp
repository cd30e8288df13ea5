#include "CameraLog.h"

#include <cstdio>

#include "platform/Log.h"
#include "platform/Utf8.h"

namespace vistamo::camera {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void appendHexByte(std::string& out, uint8_t byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

std::string hex32(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace

std::string commandName(uint32_t command) {
    switch (command) {
        case CmdChallenge:
            return "CmdChallenge";
        case CmdAlarm:
            return "CmdAlarm";
        case CmdStartMonitor:
            return "CmdStartMonitor";
        case CmdStopMonitor:
            return "CmdStopMonitor";
        case CmdVerified:
            return "CmdVerified";
        case CmdPasswordError:
            return "CmdPasswordError";
        case CmdRequestStream:
            return "CmdRequestStream";
        case CmdCameraStatus:
            return "CmdCameraStatus";
        case CmdTapFocus:
            return "CmdTapFocus";
        case CmdFlashSwitch:
            return "CmdFlashSwitch";
        case CmdScreenSwitch:
            return "CmdScreenSwitch";
        case CmdSwitchCamera:
            return "CmdSwitchCamera";
        case CmdChallengeResponse:
            return "CmdChallengeResponse";
        case CmdRequestCameraInfo:
            return "CmdRequestCameraInfo";
        case CmdNewPassword:
            return "CmdNewPassword";
        case CmdChallengeRequest:
            return "CmdChallengeRequest";
        case CmdStreamParameters:
            return "CmdStreamParameters";
        case CmdVideoFrame:
            return "CmdVideoFrame";
        case CmdOpusAudio:
            return "CmdOpusAudio";
        case CmdIntercomStart:
            return "CmdIntercomStart";
        case CmdIntercomStop:
            return "CmdIntercomStop";
        case CmdDisconnect:
            return "CmdDisconnect";
        default:
            return "Cmd" + std::to_string(command);
    }
}

std::string hexBytes(ByteView bytes, size_t limit) {
    const size_t count = bytes.size() < limit ? bytes.size() : limit;
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        appendHexByte(out, bytes[i]);
    }
    return out;
}

std::string escapeText(ByteView bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Valid UTF-8 keeps its characters; otherwise every byte above 0x7F is escaped, which also
    // keeps a half sequence from swallowing the rest of the line in a terminal.
    const bool keepHighBytes = isValidUtf8(text);
    std::string out;
    out.reserve(bytes.size());
    for (const uint8_t byte : bytes) {
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !keepHighBytes)) {
            out += "\\x";
            appendHexByte(out, byte);
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

std::string messageLine(std::string_view verb, const CommandHeader& header, ByteView bytes) {
    std::string line(verb);
    line += ' ';
    line += commandName(header.command);
    line += " length=" + std::to_string(header.length);
    line += " type=" + std::to_string(header.type);
    line += " details=" + hex32(header.details);
    line += " details2=" + hex32(header.details2);
    line += " bytes=" + hexBytes(bytes);
    return line;
}

void printConnectionLine(int connection, std::string_view text) {
    std::string line(text);
    line += " conn=" + std::to_string(connection);
    printLine(line);
}

void printCameraLine(std::string_view text) { printLine(text); }

}  // namespace vistamo::camera
