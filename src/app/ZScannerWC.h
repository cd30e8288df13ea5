#pragma once

#include <memory>

namespace vistamo {

class ZScanner;
class ZScannerWindow;

// The controller of the scanner window: makes the window with the scanner's view as its
// content. Main thread only.
class ZScannerWC {
public:
    explicit ZScannerWC(const std::shared_ptr<ZScanner>& content);
    ~ZScannerWC();

    ZScannerWC(const ZScannerWC&) = delete;
    ZScannerWC& operator=(const ZScannerWC&) = delete;

    ZScannerWindow* window() const { return window_.get(); }
    void showWindow();

private:
    void windowDidLoad() {}

    // Main thread only.
    std::unique_ptr<ZScannerWindow> window_;
};

}  // namespace vistamo
