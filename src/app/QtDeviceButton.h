#pragma once

#include <QPointer>
#include <QToolButton>
#include <functional>
#include <string>

namespace vistamo {

// Where a camera button goes on the scanner view and what it shows. Coordinates are the
// view's, origin bottom-left, in points.
struct DeviceButtonSpec {
    int x = 0;
    int y = 0;
    int width = 120;
    int height = 60;
    std::string title;  // the camera's name when the button was made
    std::string imageName = "lens.png";
    double fontSize = 13;  // the system font
};

// A camera's button on the scanner view: a flat button showing "lens.png" above the camera's
// name, at the place the scanner window chose.
//
// The scanner window owns these objects (ScannerDiscoveryHost's list of shown cameras); each
// one owns its widget, a child of the view, and hides it and has it deleted when it goes.
// Main thread only.
class QtDeviceButton final {
public:
    using Clicked = std::function<void(QtDeviceButton&)>;

    // Makes the widget on `view` as `spec` says. `spec`'s coordinates have their origin at the
    // view's bottom left; the button keeps its place from the bottom as the view resizes only
    // when the owner calls `place` again. `clicked` runs on a click; the owner may drop the
    // button from inside it.
    QtDeviceButton(QWidget* view, const DeviceButtonSpec& spec, Clicked clicked);
    ~QtDeviceButton();

    QtDeviceButton(const QtDeviceButton&) = delete;
    QtDeviceButton& operator=(const QtDeviceButton&) = delete;

    // True also once the widget has gone with its view.
    bool isHidden() const;
    void setButtonHidden(bool hidden);

    // Puts the widget at its bottom-left-origin place in a view of `viewHeight` points.
    void place(int viewHeight);

    // The widget; none once it has been deleted with its view.
    QToolButton* widget() const { return widget_.data(); }

private:
    QPointer<QToolButton> widget_;
    int x_ = 0;
    int y_ = 0;
    QMetaObject::Connection clickConnection_;
};

}  // namespace vistamo
