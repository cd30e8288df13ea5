#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "media/StreamSink.h"
#include "platform/Bytes.h"

namespace vistamo {

// The recorder of a camera's stream as a session uses it: a sink of the stream that the
// session also starts and stops. Every operation but `isRecording` and `recordingSeconds` is
// called on the session's "Client Queue"; those two may be called from any thread (the camera
// window draws the running time from them).
class SessionRecorder : public StreamSink {
public:
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Motion: begins a clip (with the seconds kept before it), or extends the running one.
    virtual bool alarm() = 0;
    virtual void setClipSeconds(double secondsBefore, double secondsAfter) = 0;

    virtual bool isRecording() const = 0;
    virtual double recordingSeconds() const = 0;
};

// What a session makes its recorder with. The callbacks run on the main queue, possibly after
// the session is gone.
struct RecorderSetup {
    std::string cameraName;
    // Seconds kept before an alarm (0: none kept) and seconds a clip runs after its last alarm.
    double secondsBefore = 0;
    double secondsAfter = 20;
    std::function<void(const std::string&)> onNotice;
    std::function<void(const std::filesystem::path&)> onFinished;
};

}  // namespace vistamo
