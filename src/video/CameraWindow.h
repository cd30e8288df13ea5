#pragma once

#include <QWidget>
#include <memory>

class QMenuBar;

namespace vistamo {

class CameraWindowController;
class CameraViewController;
class VideoView;

// The window of one camera: its content is the video view of its content view controller
// (a CameraViewController); the window owns both. It tells its controller when it closes.
//
// Keys: each button of the bar has a letter (kBarButtonKeys) that does what a click on it does;
// R starts and stops recording; F11 and Esc for full screen.
//
// Main thread only.
class CameraWindow final : public QWidget {
    Q_OBJECT

public:
    // Window size at opening, in points: room for the whole control bar.
    static constexpr int kInitialWidth = 960;
    static constexpr int kInitialHeight = 600;

    // Takes `view` as its child and content. The camera window's assembly
    // (CameraWindowController::create) builds both and sets `wc`.
    CameraWindow(std::shared_ptr<CameraViewController> viewController, VideoView* view);
    ~CameraWindow() override;

    const std::shared_ptr<CameraViewController>& viewController() const { return viewController_; }
    VideoView* view() const { return view_; }

    // Closes the window, which tells the controller `windowClosing`, then tells it
    // `closeWindow`. Hides QWidget::close: callers that close a camera window use this one.
    void close();

    // Full screen on, or back to the window it was; F11 and a double click on the picture do
    // this, Esc leaves full screen.
    void toggleFullScreen();

    // Puts `bar` (the application's menus) above the video; the window takes it over.
    void setMenuBar(QMenuBar* bar);

    // The controller of this window.
    std::weak_ptr<CameraWindowController> wc;

protected:
    // Writes "window will close" and tells the controller. A close that did not come through
    // `close` (the window manager's close box) also gets the `closeWindow` that `close` adds.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Destroyed before the view (a child widget), so the renderer goes while its view exists.
    std::shared_ptr<CameraViewController> viewController_;
    VideoView* view_;  // a child of the window
    bool inClose_ = false;
};

}  // namespace vistamo
