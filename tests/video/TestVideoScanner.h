#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "session/CameraSession.h"
#include "session/SessionScanner.h"
#include "video/CameraWindow.h"
#include "video/VideoScanner.h"
#include "webcam/PipeWireConnection.h"

namespace vistamo::test {

// The scanner as camera windows and their sessions see it: keeps the list of open windows,
// counts what the windows ask of it, and destroys a window as the application does (out of the
// list, its session dropped). Main thread, except where SessionScanner says otherwise.
class TestVideoScanner final : public VideoScanner, public SessionScanner {
public:
    // ---- VideoScanner ----
    bool bHit() const override { return hit; }
    void setBHit(bool value) override { hit = value; }
    void saveOptions() override { ++optionsSaved; }
    void setIsConnected(bool connected) override { isConnected = connected; }
    void removeVideoWindow(const CameraWindow& window) override {
        std::erase_if(videoWindowList, [&](const auto& entry) { return entry.get() == &window; });
    }
    void showScannerWindow() override { ++scannerShown; }
    void destroyWindow(const std::shared_ptr<CameraWindow>& window) override {
        removeVideoWindow(*window);
        window->detach();
        ++destroyCalls;
    }
    std::string lastAddressSessionIp() const override { return lastAddress; }
    std::shared_ptr<CameraSession> makeSession() override {
        return sessions ? sessions() : nullptr;
    }
    std::shared_ptr<CameraRecord> currentRecordOf(const std::shared_ptr<CameraRecord>& known,
                                                  const std::string& identity) override {
        return records ? records(known, identity) : known;
    }
    void cameraLost(const std::string& cameraName) override { lost.push_back(cameraName); }
    std::shared_ptr<PipeWireConnection> webcamConnection() override { return webcam; }
    bool webcamChosen(const std::string& identity) const override {
        return webcamCameras.count(identity) > 0;
    }
    void setWebcamChosen(const std::string& identity, bool chosen) override {
        if (chosen) {
            webcamCameras.insert(identity);
        } else {
            webcamCameras.erase(identity);
        }
    }

    // ---- SessionScanner ----
    long picID() const override { return pictureNumber; }
    void setPicID(long value) override { pictureNumber = value; }
    void cameraWentDown(const std::shared_ptr<CameraRecord>& /*device*/) override { ++devicesDown; }
    // Begins or extends the alarm clip, as the application's dispatcher does with "Record a
    // clip" on; the windows' tests save it on.
    void alarmFrom(CameraSession& session) override { session.startAlarmClip(); }

    std::vector<std::shared_ptr<CameraWindow>> videoWindowList;
    bool hit = false;
    int optionsSaved = 0;
    bool isConnected = false;
    int scannerShown = 0;
    int destroyCalls = 0;
    std::string lastAddress;
    // What makeSession and currentRecordOf answer (none: no session; the known record).
    std::function<std::shared_ptr<CameraSession>()> sessions;
    std::function<std::shared_ptr<CameraRecord>(const std::shared_ptr<CameraRecord>&,
                                                const std::string&)>
        records;
    std::vector<std::string> lost;
    // The webcam's connection (none: no webcam) and the cameras chosen as webcams.
    std::shared_ptr<PipeWireConnection> webcam;
    std::set<std::string> webcamCameras;
    long pictureNumber = 0;
    std::atomic<int> devicesDown{0};  // the session's queue
};

}  // namespace vistamo::test
