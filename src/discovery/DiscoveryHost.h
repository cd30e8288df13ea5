#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vistamo {

class DeviceButton;
class ZConfig;

// Where a camera button goes on the scanner view and what it shows. Coordinates are the
// view's, origin bottom-left, in points.
struct DeviceButtonSpec {
    int x = 0;
    int y = 0;
    int width = 120;
    int height = 60;
    std::string title;  // the camera's name when the button was made
    int64_t tag = 0;    // the record's position in the scanner's list
    std::string imageName = "lens.png";
    double fontSize = 13;  // the system font
};

// The view's frame, in points.
struct ViewFrame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// What the discovery scanner needs of the scanner controller that owns it. The scanner holds
// it weakly; without it buttons are not made and the status line is not written.
//
// Every operation is called on the main thread only, and has a safe default, so a controller
// implements only what it offers.
class DiscoveryHost {
public:
    virtual ~DiscoveryHost() = default;

    // The frame of the view that shows the camera buttons. Default: empty, so every button
    // is placed at (5, 5).
    virtual ViewFrame viewFrame() const { return {}; }

    // Makes a push button as `spec` says, without a border, its image above its title and
    // scaled down (never up) to fit, adds it to the view and returns it. A click on it must
    // open the camera whose record sits at the button's tag in the scanner's list at the time
    // of the click. The view owns the button. Default: none, so no button is made.
    virtual std::shared_ptr<DeviceButton> makeDeviceButton(const DeviceButtonSpec& /*spec*/) {
        return nullptr;
    }

    // The status line: plain text.
    virtual void setInfomationText(const std::string& /*text*/) {}

    // The status line: `text` as one link over its whole length to the product's web page,
    // in a field that is selectable, not editable, and allows editing of text attributes so
    // that the link can be clicked.
    virtual void setInfomationLink(const std::string& /*text*/) {}

    // The text to show for a localisation key. Default: `defaultText`.
    virtual std::string localizedString(const std::string& /*key*/,
                                        const std::string& defaultText) const {
        return defaultText;
    }

    // The store of accepted passwords, asked for the password of a newly found camera; it
    // stays valid for the duration of the call. Default: none (new records have no password).
    virtual ZConfig* config() { return nullptr; }
};

}  // namespace vistamo
