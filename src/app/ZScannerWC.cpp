#include "app/ZScannerWC.h"

#include "app/ZScanner.h"
#include "app/ZScannerWindow.h"

namespace vistamo {

ZScannerWC::ZScannerWC(const std::shared_ptr<ZScanner>& content)
    : window_(std::make_unique<ZScannerWindow>(content)) {
    window_->setCentralWidget(content->loadView());
    content->setWindow(window_.get());
    windowDidLoad();
}

ZScannerWC::~ZScannerWC() = default;

void ZScannerWC::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace vistamo
