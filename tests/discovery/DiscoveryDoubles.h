#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/CameraFinder.h"
#include "discovery/CameraRecord.h"
#include "discovery/DeviceButton.h"
#include "discovery/DiscoveryHost.h"
#include "discovery/NewDeviceReceiver.h"
#include "dispatch/MainQueue.h"
#include "platform/Bytes.h"
#include "support/DatagramSocket.h"

namespace vistamo::test {

// Runs `work` on the main queue and returns what it returns: the scanner's list and buttons
// live there.
template <typename F>
auto onMain(F&& work) {
    return dispatch::mainQueue().syncResult(std::forward<F>(work));
}

// A button that remembers what it was made with and asked to do. Main thread only.
class RecordingButton : public DeviceButton {
public:
    RecordingButton(std::string madeTitle, int64_t tag) : title(std::move(madeTitle)), tag_(tag) {}

    int64_t tag() const override { return tag_; }
    void setTag(int64_t tag) override { tag_ = tag; }
    bool isHidden() const override { return hidden_; }
    void setButtonHidden(bool hidden) override { hidden_ = hidden; }
    void remove() override { removed = true; }

    const std::string title;
    bool removed = false;

private:
    int64_t tag_;
    bool hidden_ = false;
};

// The scanner window as discovery sees it: it keeps every button made on it (removed ones too,
// flagged), and the status shown, in order ("found" or "searching"). Main thread only.
class RecordingHost : public DiscoveryHost {
public:
    std::shared_ptr<DeviceButton> makeDeviceButton(const std::string& title, int64_t tag) override {
        if (!makesButtons) {
            return nullptr;
        }
        buttons.push_back(std::make_shared<RecordingButton>(title, tag));
        return buttons.back();
    }
    void showStatus(DiscoveryStatus shown) override {
        status.push_back(shown == DiscoveryStatus::CamerasFound ? "found" : "searching");
    }
    PasswordStore* config() override { return store; }

    bool makesButtons = true;
    PasswordStore* store = nullptr;
    std::vector<std::shared_ptr<RecordingButton>> buttons;
    std::vector<std::string> status;
};

class RecordingDialog : public NewDeviceReceiver {
public:
    void setNewDevBtn(const std::shared_ptr<DeviceButton>& button) override {
        handed.push_back(button);
    }
    std::vector<std::shared_ptr<DeviceButton>> handed;  // main thread only
};

inline std::shared_ptr<RecordingButton> buttonOf(const std::shared_ptr<CameraRecord>& record) {
    return std::dynamic_pointer_cast<RecordingButton>(record->button().lock());
}

// Drives the scanner of a test from the test's thread: what the scanner keeps lives on the main
// queue and is read there.
struct ScannerDriver {
    // Takes `made` as the test's scanner, its window `host`, with the network up.
    void attach(std::shared_ptr<CameraFinder> made) {
        scanner = std::move(made);
        onMain([&] {
            scanner->setScanner(host);
            scanner->setNetStatus(1);
        });
    }
    std::vector<std::shared_ptr<CameraRecord>> list() const {
        return onMain([&] { return scanner->records(); });
    }
    std::shared_ptr<CameraRecord> find(const std::string& uuid) const {
        for (const auto& record : list()) {
            if (record->uuid() == uuid) {
                return record;
            }
        }
        return nullptr;
    }
    void tick() const {
        onMain([&] { scanner->scanServers(); });
    }
    // "address port name" of the record for `uuid`.
    std::string shown(const std::string& uuid) const {
        const auto record = find(uuid);
        return record ? record->address().value_or("?") + " " + std::to_string(record->port()) +
                            " " + record->name().value_or("?")
                      : "none";
    }

    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<CameraFinder> scanner;
};

}  // namespace vistamo::test
