#pragma once

#include <memory>
#include <string>

namespace vistamo {

struct AlarmOptions;
struct ClipSettings;

// What the option dialog and the add-camera dialog need of the scanner controller that opened
// them. The option dialog owns its host while it is open; the add-camera dialog holds it
// weakly. Every operation runs on the main thread. All but `alarmOptions` have safe defaults,
// so a test double implements only what it examines.
class ScannerDialogHost {
public:
    virtual ~ScannerDialogHost() = default;

    // The alarm settings the option dialog edits in place; valid as long as the host lives.
    virtual AlarmOptions& alarmOptions() = 0;

    // Builds the option data from the current settings and writes the options file.
    virtual void saveOptions() {}

    // What a motion alarm records, now saved: handed to every open camera's session.
    virtual void applyClipSettings(const ClipSettings& /*settings*/) {}

    // True from a connect until a camera window closes. A dialog that closes while this is
    // false brings the scanner window back.
    virtual bool isConnected() const { return false; }

    // Makes the scanner's own window visible again.
    virtual void showScannerWindow() {}

    // Adds a camera typed by address to the discovery scanner's list, where the scanner window
    // shows it like a found one. True when the address was added; false when it was already
    // listed or there is no discovery scanner (the network was down at start-up). The
    // add-camera dialog connects either way.
    virtual bool addNewOne(const std::string& /*address*/) { return false; }

    // Opens a camera window and connects it to the camera at `address` (IPv4 text already
    // checked by the caller), on the default camera port.
    virtual void connectToAddress(const std::string& /*address*/) {}
};

}  // namespace vistamo
