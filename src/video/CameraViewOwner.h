#pragma once

#include <memory>

#include "session/SessionView.h"

namespace vistamo {

class VideoScanner;

// What a camera window's video view controller asks of the window that owns it. The controller
// holds it weakly, so its header names no window class and the window's header includes the
// controller's without a cycle. Every operation runs on the main thread.
class CameraViewOwner {
public:
    virtual ~CameraViewOwner() = default;

    // Titles the window after its camera (before each show).
    virtual void setTitle() = 0;
    // The attached session reported the camera's state: the camera is there.
    virtual void sessionLive() = 0;
    // The attached session ended for `why`. True when the window connects again; false when it
    // is to close.
    virtual bool reconnectAfter(SessionEnd why) = 0;
    // The close button: the window lets go of its camera before it closes (no more connecting
    // again, the camera's record free, out of the scanner's list, the scanner shown).
    virtual void letGoOfCamera() = 0;
    // Closes the window as its close box does.
    virtual void close() = 0;
    // The scanner that opened the window, or none.
    virtual std::shared_ptr<VideoScanner> scanner() const = 0;

protected:
    CameraViewOwner() = default;
    CameraViewOwner(const CameraViewOwner&) = default;
    CameraViewOwner& operator=(const CameraViewOwner&) = default;
};

}  // namespace vistamo
