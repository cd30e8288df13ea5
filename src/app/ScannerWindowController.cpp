#include "app/ScannerWindowController.h"

#include "app/ScannerController.h"
#include "app/ScannerWindow.h"

namespace vistamo {

ScannerWindowController::ScannerWindowController(const std::shared_ptr<ScannerController>& content)
    : window_(std::make_unique<ScannerWindow>(content)) {
    window_->setCentralWidget(content->makeView());
    content->setWindow(window_.get());
}

ScannerWindowController::~ScannerWindowController() = default;

void ScannerWindowController::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace vistamo
