#include "app/ScannerDialogs.h"

#include "app/AddCameraDialog.h"
#include "app/OptionsDialog.h"
#include "app/ScannerController.h"
#include "discovery/CameraFinder.h"

namespace vistamo {

namespace {

// Shows a dialog that deletes itself once closed, in front of every window, blocking the rest
// of the application while it is open.
void showInFront(QWidget* dialog) {
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

}  // namespace

void ScannerDialogs::showOption(const std::shared_ptr<ScannerDialogHost>& self) {
    // The dialog keeps the scanner alive while it is open.
    showInFront(new OptionsDialog(self));
}

void ScannerDialogs::showNewDevice(const std::weak_ptr<ScannerDialogHost>& self) {
    showInFront(new AddCameraDialog(self));
}

AlarmOptions& ScannerDialogs::alarmOptions() { return scanner_.alarmOptions(); }

void ScannerDialogs::saveOptions() { scanner_.saveOptions(); }

void ScannerDialogs::applyClipSettings(const ClipSettings& settings) {
    scanner_.applyClipSettings(settings);
}

bool ScannerDialogs::isConnected() const { return scanner_.isConnected(); }

void ScannerDialogs::showScannerWindow() { scanner_.showScannerWindow(); }

bool ScannerDialogs::addNewOne(const std::string& address) {
    const auto& discovery = scanner_.finder();
    return discovery ? discovery->addNewOne(address) : false;
}

void ScannerDialogs::connectToAddress(const std::string& address) {
    scanner_.connectToAddress(address);
}

}  // namespace vistamo
