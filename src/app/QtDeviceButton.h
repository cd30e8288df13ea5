#pragma once

#include <QPointer>
#include <QToolButton>
#include <cstdint>
#include <functional>
#include <memory>

#include <string>

#include "discovery/DeviceButton.h"

namespace vistamo {

// Where a camera button goes on the scanner view and what it shows. Coordinates are the
// view's, origin bottom-left, in points.
struct DeviceButtonSpec {
    int x = 0;
    int y = 0;
    int width = 120;
    int height = 60;
    std::string title;  // the camera's name when the button was made
    int64_t tag = 0;    // the record's position in discovery's list
    std::string imageName = "lens.png";
    double fontSize = 13;  // the system font
};

// A camera's button on the scanner view: a flat button showing "lens.png" above the camera's
// name, at the place discovery chose. Discovery sees it as a DeviceButton.
//
// The scanner view owns these objects (through the scanner's list of buttons); each one owns
// its widget, a child of the view, and deletes it when it goes. Main thread only.
class QtDeviceButton final : public DeviceButton {
public:
    using Clicked = std::function<void(QtDeviceButton&)>;
    using Removed = std::function<void(QtDeviceButton&)>;

    // Makes the widget on `view` as `spec` says. `spec`'s coordinates have their origin at the
    // view's bottom left; the button keeps its place from the bottom as the view resizes only
    // when the owner calls `place` again. `clicked` runs on a click, `removed` when discovery
    // takes the button off the view (the owner then drops it).
    QtDeviceButton(QWidget* view, const DeviceButtonSpec& spec, Clicked clicked, Removed removed);
    ~QtDeviceButton() override;

    QtDeviceButton(const QtDeviceButton&) = delete;
    QtDeviceButton& operator=(const QtDeviceButton&) = delete;

    int64_t tag() const override { return tag_; }
    void setTag(int64_t tag) override { tag_ = tag; }
    bool isHidden() const override;
    void setButtonHidden(bool hidden) override;
    void remove() override;

    // Puts the widget at its bottom-left-origin place in a view of `viewHeight` points.
    void place(int viewHeight);

    // The widget; none once it has been deleted with its view.
    QToolButton* widget() const { return widget_.data(); }

private:
    QPointer<QToolButton> widget_;
    int64_t tag_ = 0;
    int x_ = 0;
    int y_ = 0;
    Removed removed_;
    QMetaObject::Connection clickConnection_;
};

}  // namespace vistamo
