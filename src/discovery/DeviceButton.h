#pragma once

#include <cstdint>

namespace vistamo {

// One camera's button on the scanner view, as discovery sees it. The view owns the button; a
// camera record holds it weakly, so a button removed from the view is gone for discovery too.
//
// The scanner window implements it; tests use a recording double. Every operation is
// required, and every one is called on the main thread only.
class DeviceButton {
public:
    virtual ~DeviceButton() = default;

    // The position of the button's record in the scanner's list: a click opens the record at
    // this position. Discovery keeps it current when records before it leave the list.
    virtual int64_t tag() const = 0;
    virtual void setTag(int64_t tag) = 0;

    virtual bool isHidden() const = 0;
    virtual void setButtonHidden(bool hidden) = 0;

    // Takes the button off the view for good: the view drops it, and with that its last owner.
    virtual void remove() = 0;
};

}  // namespace vistamo
