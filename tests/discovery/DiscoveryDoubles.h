#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/CameraFinder.h"
#include "discovery/CameraRecord.h"
#include "discovery/DiscoveryHost.h"
#include "dispatch/MainQueue.h"
#include "platform/Bytes.h"
#include "support/DatagramSocket.h"

namespace vistamo::test {

// Runs `work` on the main queue and returns what it returns: the scanner's list lives there.
template <typename F>
auto onMain(F&& work) {
    return dispatch::mainQueue().syncResult(std::forward<F>(work));
}

// The scanner window as discovery sees it: the reports in order, as "added <who>",
// "changed <who>", "gone <who>" or "removed <who>" (who: the camera's uuid, else its address),
// and the status shown, in order ("found" or "searching"). Main thread only.
class RecordingHost : public DiscoveryHost {
public:
    void cameraAdded(const std::shared_ptr<CameraRecord>& camera) override {
        note("added", *camera);
    }
    void cameraChanged(const std::shared_ptr<CameraRecord>& camera) override {
        note("changed", *camera);
    }
    void cameraGone(const std::shared_ptr<CameraRecord>& camera) override { note("gone", *camera); }
    void cameraRemoved(const std::shared_ptr<CameraRecord>& camera) override {
        note("removed", *camera);
    }
    void showStatus(DiscoveryStatus shown) override {
        status.push_back(shown == DiscoveryStatus::CamerasFound ? "found" : "searching");
    }

    // The last report about `who`; empty when there was none.
    std::string lastAbout(const std::string& who) const {
        for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
            if (it->ends_with(" " + who)) {
                return it->substr(0, it->size() - who.size() - 1);
            }
        }
        return {};
    }

    std::vector<std::string> reports;
    std::vector<std::string> status;

private:
    void note(const char* what, const CameraRecord& camera) {
        reports.push_back(std::string(what) + " " +
                          camera.uuid().value_or(camera.address().value_or("?")));
    }
};

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
    std::vector<std::string> reports() const {
        return onMain([&] { return host->reports; });
    }

    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    std::shared_ptr<CameraFinder> scanner;
};

}  // namespace vistamo::test
