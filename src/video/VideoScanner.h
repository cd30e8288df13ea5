#pragma once

#include <memory>
#include <string>

namespace vistamo {

class CameraSession;
class CameraWindow;
class CameraRecord;
class PipeWireConnection;

// What a camera window and its video view controller need of the scanner controller that
// opened them. They hold it weakly. Every operation runs on the main thread and has a safe
// default, so a test double implements only what it examines.
class VideoScanner {
public:
    virtual ~VideoScanner() = default;

    // Whether the "Picture Saved" notice is shown after a snapshot; cleared by "Never Show".
    virtual bool bHit() const { return false; }
    virtual void setBHit(bool /*hit*/) {}

    // Builds the option data from the current settings and writes the options file.
    virtual void saveOptions() {}

    // True from a connect until a camera window closes.
    virtual void setIsConnected(bool /*connected*/) {}

    // Takes `window` out of the list of open camera windows; nothing when it is not there.
    virtual void removeVideoWindow(const CameraWindow& /*window*/) {}

    // Makes the scanner's own window visible again.
    virtual void showScannerWindow() {}

    // Removes `window` from the list (again) and drops its session; the window schedules it
    // 0.3 s after closing.
    virtual void destroyWindow(const std::shared_ptr<CameraWindow>& /*window*/) {}

    // The address of the session opened by the last connect by address, or "" when the
    // scanner holds none; titles a window that has no camera record.
    virtual std::string lastAddressSessionIp() const { return {}; }

    // A new session, not yet connected, made as the scanner makes the sessions of the windows
    // it opens; a window that lost its camera connects again with it. Default: none, so such a
    // window closes instead.
    virtual std::shared_ptr<CameraSession> makeSession() { return nullptr; }

    // The camera's record as discovery knows it now, to connect to its current address: the
    // record `known` or one of the same `identity`, while discovery lists it. None when
    // discovery no longer lists the camera (it said it leaves). Default: `known`.
    virtual std::shared_ptr<CameraRecord> currentRecordOf(
        const std::shared_ptr<CameraRecord>& known, const std::string& /*identity*/) {
        return known;
    }

    // A window gave up connecting again to `cameraName` and closes: the one notice the user
    // gets about it. Default: nothing.
    virtual void cameraLost(const std::string& /*cameraName*/) {}

    // The application's connection to PipeWire, on which camera windows offer their camera as
    // a webcam; none where PipeWire is absent, with `webcamAbsence` saying why. Default: none.
    virtual std::shared_ptr<PipeWireConnection> webcamConnection() { return nullptr; }
    virtual std::string webcamAbsence() { return "PipeWire is not available"; }
    // Whether the camera of `identity` is used as a webcam when its window opens, as the user
    // last chose; a change is remembered (and saved). Default: never, and nothing kept.
    virtual bool webcamChosen(const std::string& /*identity*/) const { return false; }
    virtual void setWebcamChosen(const std::string& /*identity*/, bool /*chosen*/) {}
};

}  // namespace vistamo
