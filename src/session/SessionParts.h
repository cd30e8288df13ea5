#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "media/SessionAudioCodec.h"
#include "media/SessionDecoder.h"
#include "media/SessionRecorder.h"
#include "session/SessionDialogs.h"

namespace vistamo {

class SoundPlayer;

// A streaming camera that sends nothing for this long has dropped the session.
inline constexpr double kStreamSilenceSeconds = 10.0;

// The parts a session is made with. The application fills every field with the real parts;
// a field left empty means the session goes without that part (no video decoding, no sound,
// no alerts), which tests use to keep to what they examine.
struct SessionParts {
    std::function<std::shared_ptr<SessionDecoder>()> makeDecoder;
    std::function<std::shared_ptr<SessionAudioCodec>()> makeCodec;
    // The alarm sound ("alarm.mp3" from the resources).
    std::function<std::shared_ptr<SoundPlayer>()> makeAlarmPlayer;
    std::shared_ptr<SessionDialogs> dialogs;
    // The recorder of the camera's stream, made when the stream's parameters first arrive.
    std::function<std::shared_ptr<SessionRecorder>(RecorderSetup)> makeRecorder;
    // Local addresses of the first usable interface, then of the second: the session makes its
    // socket only when one of them has an address. Empty: the computer's own addresses.
    std::function<bool()> hasLocalAddress;
    // The machine's identity for the client's challenge. Empty: machineIdentity.
    std::function<std::string()> deviceIdentity;
    // For measuring (the application leaves it empty): called on "Client Queue" as the session
    // begins handling a video message, before its slice goes to the decoder, with the time the
    // socket's queue completed reading the message's body.
    std::function<void(std::chrono::steady_clock::time_point bodyRead)> videoUnitObserver;
    // How long a streaming camera may stay silent before its session counts as dropped; tests
    // that stall the link shorten it.
    double streamSilenceSeconds = kStreamSilenceSeconds;
};

}  // namespace vistamo
