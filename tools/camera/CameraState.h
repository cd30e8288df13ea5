#pragma once

#include <cstdint>

#include "session/CommandHeader.h"

namespace vistamo::camera {

// What the camera itself is doing: torch, screen flag, lens and motion guard. One per camera,
// shared by every connection; changed only by the clients' commands.
//
// Threads: the camera's one thread only.
class CameraState {
public:
    // The frame rate and resolution code that every status reports. The code stands for
    // 1280 x 720 in this camera.
    static constexpr uint16_t kFramesPerSecond = 30;
    static constexpr uint16_t kResolutionCode = 720;

    // Acts on a client's 6, 7, 27, 28 or 29. Returns whether the command is one of those,
    // that is whether a status report is due (even when the state stayed as it was).
    bool apply(uint32_t command);

    bool torch() const { return torch_; }
    bool screen() const { return screen_; }
    bool guarding() const { return guarding_; }
    // 1 or 2.
    int lens() const { return lens_; }

    // The flags word of a status: bit 0 torch, bit 2 second camera, bit 3 screen, bit 4 guard.
    uint32_t flags() const;

    // A whole status message (command 18, no body).
    Bytes statusMessage() const;

private:
    bool torch_ = false;
    bool screen_ = false;
    bool guarding_ = false;
    int lens_ = 1;
};

}  // namespace vistamo::camera
