#pragma once

#include <memory>

namespace vistamo {

class ScannerController;
class ScannerWindow;

// The controller of the scanner window: makes the window with the scanner's view as its
// content. Main thread only.
class ScannerWindowController {
public:
    explicit ScannerWindowController(const std::shared_ptr<ScannerController>& content);
    ~ScannerWindowController();

    ScannerWindowController(const ScannerWindowController&) = delete;
    ScannerWindowController& operator=(const ScannerWindowController&) = delete;

    ScannerWindow* window() const { return window_.get(); }
    void showWindow();

private:
    // Main thread only.
    std::unique_ptr<ScannerWindow> window_;
};

}  // namespace vistamo
