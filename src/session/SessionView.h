#pragma once

#include <memory>
#include <string>

#include "media/PixelBuffer.h"

namespace vistamo {

// Shows the camera's state (torch, screen, motion guard) on the window's control bar.
// Main thread.
class SessionStatusTarget {
public:
    virtual ~SessionStatusTarget() = default;

    virtual void setFlash(bool /*on*/) {}
    virtual void setScreen(bool /*on*/) {}
    virtual void setAlarm(bool /*on*/) {}
};

// The frame renderer of a camera window.
class SessionRenderer {
public:
    virtual ~SessionRenderer() = default;

    // The camera's stream starts anew. Called on the session's "Client Queue": the
    // implementation makes it safe to call from there.
    virtual void setFirstFrame(bool /*first*/) {}

    // A decoded frame to draw. Called on the decoder's thread, which it must not make wait for
    // the main thread; the renderer may keep the reference as long as it needs.
    virtual void getframeWithVideoframe(const PixelBuffer& /*frame*/) {}
};

// The OpenGL view of a camera's window, as its session sees it. Main thread.
class SessionView : public SessionStatusTarget {
public:
    // The view's renderer, or none.
    virtual std::shared_ptr<SessionRenderer> video() { return nullptr; }
    // Closes the camera's window.
    virtual void closeWindow() {}
    // A problem the user can act on (recording), shown as one line over the picture.
    virtual void showNotice(const std::string& /*text*/) {}
    // Recording started or stopped: the red dot comes or goes.
    virtual void recordingChanged() {}
};

}  // namespace vistamo
