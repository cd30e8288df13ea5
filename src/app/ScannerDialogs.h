#pragma once

#include <memory>
#include <string>

#include "app/ScannerDialogHost.h"

namespace vistamo {

class ScannerController;

// The scanner as the option dialog and the add-camera dialog meet it: the alarm settings they
// edit, saving them, handing a typed address to discovery and opening its camera, and the
// scanner window coming back when a dialog closes with no camera open.
//
// Owned by the scanner controller, which it serves; the dialogs reach it through references
// that keep the scanner alive while they use it. Main thread only.
class ScannerDialogs final : public ScannerDialogHost {
public:
    explicit ScannerDialogs(ScannerController& scanner) : scanner_(scanner) {}

    ScannerDialogs(const ScannerDialogs&) = delete;
    ScannerDialogs& operator=(const ScannerDialogs&) = delete;

    // Opens the option dialog, which holds `self` (this object) while it is open.
    void showOption(const std::shared_ptr<ScannerDialogHost>& self);
    // Opens the add-camera dialog, which holds `self` (this object) weakly.
    void showNewDevice(const std::weak_ptr<ScannerDialogHost>& self);

    // ---- ScannerDialogHost ----
    AlarmOptions& alarmOptions() override;
    void saveOptions() override;
    void applyClipSettings(const ClipSettings& settings) override;
    bool isConnected() const override;
    void showScannerWindow() override;
    bool addNewOne(const std::string& address) override;
    void connectToAddress(const std::string& address) override;

private:
    // The owner, which outlives this object.
    ScannerController& scanner_;
};

}  // namespace vistamo
