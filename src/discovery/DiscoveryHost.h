#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vistamo {

class DeviceButton;
class PasswordStore;

// What the status line should tell the user, as discovery judges it on each scan tick. The
// host chooses the words.
enum class DiscoveryStatus {
    // A camera button shows: the user can pick a camera.
    CamerasFound,
    // No camera button shows, or the status line alternates back: discovery is looking.
    Searching,
};

// What the discovery scanner needs of the window that shows the cameras it finds. The scanner
// holds it weakly; without it buttons are not made and the status line is not written. Where a
// button sits and how it looks, and the status line's words, are the host's business.
//
// Every operation is called on the main thread only, and has a safe default, so a host
// implements only what it offers.
class DiscoveryHost {
public:
    virtual ~DiscoveryHost() = default;

    // Makes the button of a camera titled `title` (its name when the button is made) and tagged
    // `tag` (the record's position in the scanner's list), puts it on the view and returns it.
    // A click on it must open the camera whose record sits at the button's tag in the scanner's
    // list at the time of the click. The view owns the button. Default: none, so no button is
    // made.
    virtual std::shared_ptr<DeviceButton> makeDeviceButton(const std::string& /*title*/,
                                                           int64_t /*tag*/) {
        return nullptr;
    }

    // Shows `status` in the status line. Default: nothing.
    virtual void showStatus(DiscoveryStatus /*status*/) {}

    // The store of accepted passwords, asked for the password of a newly found camera; it
    // stays valid for the duration of the call. Default: none (new records have no password).
    virtual PasswordStore* config() { return nullptr; }
};

}  // namespace vistamo
