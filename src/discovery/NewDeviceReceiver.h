#pragma once

#include <memory>

namespace vistamo {

class DeviceButton;

// The add-camera dialog as the discovery scanner sees it: it is handed the button of the
// camera it added, or of each camera already in the list at the address it asked for.
// Main thread; the default does nothing.
class NewDeviceReceiver {
public:
    virtual ~NewDeviceReceiver() = default;

    // `button` may be none when the camera has no button (the scanner has no view).
    virtual void setNewDevBtn(const std::shared_ptr<DeviceButton>& /*button*/) {}
};

}  // namespace vistamo
