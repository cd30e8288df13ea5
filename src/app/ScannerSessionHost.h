#pragma once

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "session/SessionScanner.h"
#include "settings/OptionData.h"
#include "settings/SettingsVersion.h"

class QWidget;

namespace vistamo {

class DesktopNotifier;
class Workspace;

// The scanner as its camera sessions meet it: the snapshot counter, the alarm mode, the
// motion alarm's actions with a desktop notice naming the camera, the camera settings record
// and the store of accepted passwords.
//
// Owned by the scanner controller, which gives each session a weak reference to it.
//
// Threads: everything on the main thread, except `bOnceAlarm` and `serviceName` (any thread,
// from the sessions' queues) and `cameraWentDown` (a session's queue), which touch only
// values kept for that purpose.
class ScannerSessionHost final : public SessionScanner {
public:
    // A camera window, as the alarm's notice names and raises it.
    struct AlarmedWindow {
        std::string cameraName;
        QWidget* window = nullptr;
    };

    // What the host asks of the scanner controller; called on the main thread, during the call
    // that asks, and only while the host lives. Any field may be left empty.
    struct Hooks {
        // The viewer's own windows to the front, the scanner window becoming the active one.
        std::function<void()> bringWindowsForward;
        // The open camera window that shows `session`, if any.
        std::function<std::optional<AlarmedWindow>(const std::weak_ptr<CameraSession>& session)>
            windowOf;
    };

    // `options` and `config` are the scanner's and outlive the host.
    ScannerSessionHost(AlarmOptions& options, PasswordStore* config,
                       std::shared_ptr<Workspace> workspace, Hooks hooks);
    ~ScannerSessionHost() override;

    ScannerSessionHost(const ScannerSessionHost&) = delete;
    ScannerSessionHost& operator=(const ScannerSessionHost&) = delete;

    // ---- SessionScanner ----
    long picID() const override;
    void setPicID(long picID) override;
    bool bOnceAlarm() const override;  // any thread
    // On the session's queue; nothing to do.
    void cameraWentDown(const std::shared_ptr<CameraRecord>& device) override;
    void runAlarmActions(const std::shared_ptr<SoundPlayer>& alarmSound) override;
    // The alarm actions, then a desktop notice naming the camera of `session`.
    void runAlarmActionsFor(const std::weak_ptr<CameraSession>& session,
                            const std::shared_ptr<SoundPlayer>& alarmSound) override;
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
    const std::shared_ptr<Workspace> workspace_;
    const Hooks hooks_;
    // The camera settings record offered to sessions; never filled, so sessions read no
    // service name.
    const std::optional<SettingsVersion> version_;

    // Main thread only. Made at the first alarm: it joins the session bus.
    std::unique_ptr<DesktopNotifier> notifier_;

    // Written on the main thread, read by sessions on their queues.
    std::atomic<bool> bOnceAlarm_{true};
};

}  // namespace vistamo
