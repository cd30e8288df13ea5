#pragma once

#include <memory>
#include <string>

namespace vistamo {

// Why a session's connection ended, as the session judges it when its socket closes.
enum class SessionEnd {
    // This side closed it: the window or its close button, or the session after a bad
    // challenge.
    Closed,
    // The camera refused the password and the user cancelled the password dialog.
    PasswordRefused,
    // The connection failed or ended before the camera verified the session.
    NeverVerified,
    // A verified session lost its camera: the camera closed or reset the connection, a read or
    // write failed, or nothing arrived for kStreamSilenceSeconds while streaming.
    Dropped,
};

// Shows the camera's state (torch, screen, motion guard) on the window's control bar.
// Main thread.
class SessionStatusTarget {
public:
    virtual ~SessionStatusTarget() = default;

    virtual void setFlash(bool /*on*/) {}
    virtual void setScreen(bool /*on*/) {}
    virtual void setAlarm(bool /*on*/) {}
};

// The OpenGL view of a camera's window, as its session sees it. Main thread.
class SessionView : public SessionStatusTarget {
public:
    // The session's connection has ended for `why`; the window closes, or for a dropped
    // session may connect again.
    virtual void sessionEnded(SessionEnd /*why*/) {}
    // A problem the user can act on (recording), shown as one line over the picture.
    virtual void showNotice(const std::string& /*text*/) {}
    // Recording started or stopped: the red dot comes or goes.
    virtual void recordingChanged() {}
};

}  // namespace vistamo
