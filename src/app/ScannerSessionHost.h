#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/AlarmDispatcher.h"
#include "session/SessionScanner.h"
#include "settings/CameraSettingsRecord.h"
#include "settings/OptionData.h"

class QWidget;

namespace vistamo {

class Workspace;

// The scanner as its camera sessions meet it: the snapshot counter, the alarm dispatcher their
// alarms go to, the camera settings record and the store of accepted passwords.
//
// Owned by the scanner controller, which gives each session a weak reference to it.
//
// Threads: everything on the main thread, except `serviceName` (any thread, from the sessions'
// queues), `cameraWentDown` and `alarmFrom` (a session's queue) and `guardSwitched` (any
// thread), which touch only values kept for that purpose or the dispatcher's guarded state.
class ScannerSessionHost final : public SessionScanner {
public:
    // `options` and `config` are the scanner's and outlive the host.
    ScannerSessionHost(AlarmOptions& options, PasswordStore* config,
                       std::shared_ptr<Workspace> workspace, AlarmDispatcher::Hooks hooks);
    ~ScannerSessionHost() override;

    ScannerSessionHost(const ScannerSessionHost&) = delete;
    ScannerSessionHost& operator=(const ScannerSessionHost&) = delete;

    // ---- SessionScanner ----
    long picID() const override;
    void setPicID(long picID) override;
    // On the session's queue; nothing to do.
    void cameraWentDown(const std::shared_ptr<CameraRecord>& device) override;
    // Handed to the alarm dispatcher.
    void alarmFrom(CameraSession& session) override;
    void guardSwitched(const CameraSession& session) override;
    // One desktop notice that a camera window gave up connecting again to `cameraName`; a
    // click on it raises `window`. Main thread.
    void notifyCameraLost(const std::string& cameraName, QWidget* window);
    std::optional<std::string> serviceName() const override;  // any thread
    PasswordStore* config() override { return config_; }

    // Hands the options' alarm mode to the sessions' queues; after every change of the options.
    void publishOptions();

private:
    // Set once at construction.
    AlarmOptions& options_;  // main thread only
    PasswordStore* const config_;
    // Shared only with the work it posts to the main queue, which it outlives otherwise.
    const std::shared_ptr<AlarmDispatcher> alarms_;
    // The camera settings record offered to sessions; never filled, so sessions read no
    // service name.
    const std::optional<CameraSettingsRecord> cameraSettings_;
};

}  // namespace vistamo
