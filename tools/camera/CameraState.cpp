#include "CameraState.h"

#include "session/SessionMessages.h"

namespace vistamo::camera {

bool CameraState::apply(uint32_t command) {
    switch (command) {
        case CmdFlashSwitch:
            torch_ = !torch_;
            return true;
        case CmdScreenSwitch:
            screen_ = !screen_;
            return true;
        case CmdSwitchCamera:
            lens_ = lens_ == 1 ? 2 : 1;
            return true;
        case CmdStartMonitor:
            guarding_ = true;
            return true;
        case CmdStopMonitor:
            guarding_ = false;
            return true;
        default:
            return false;
    }
}

uint32_t CameraState::flags() const {
    uint32_t flags = 0;
    if (torch_) {
        flags |= 1u << 0;
    }
    if (lens_ == 2) {
        flags |= 1u << 2;
    }
    if (screen_) {
        flags |= 1u << 3;
    }
    if (guarding_) {
        flags |= 1u << 4;
    }
    return flags;
}

Bytes CameraState::statusMessage() const {
    return makeMessage(CmdCameraStatus, cameraStatusDetails(kFramesPerSecond, kResolutionCode),
                       flags());
}

}  // namespace vistamo::camera
