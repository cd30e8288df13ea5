#include "app/ScannerSessionHost.h"

#include "app/DesktopNotifier.h"
#include "platform/Localization.h"
#include "platform/Log.h"

namespace vistamo {

ScannerSessionHost::ScannerSessionHost(AlarmOptions& options, PasswordStore* config,
                                       std::shared_ptr<Workspace> workspace,
                                       AlarmDispatcher::Hooks hooks)
    : options_(options),
      config_(config),
      alarms_(AlarmDispatcher::create(options, std::move(workspace), std::move(hooks))) {}

ScannerSessionHost::~ScannerSessionHost() = default;

long ScannerSessionHost::picID() const { return static_cast<long>(options_.picID); }

void ScannerSessionHost::setPicID(long picID) { options_.picID = picID; }

void ScannerSessionHost::publishOptions() { alarms_->publishOptions(); }

void ScannerSessionHost::cameraWentDown(const std::shared_ptr<CameraRecord>& /*device*/) {}

std::optional<std::string> ScannerSessionHost::serviceName() const {
    return cameraSettings_ ? cameraSettings_->serviceName : std::nullopt;
}

void ScannerSessionHost::alarmFrom(CameraSession& session) { alarms_->alarmFrom(session); }

void ScannerSessionHost::guardSwitched(const CameraSession& session) {
    alarms_->guardSwitched(session);
}

void ScannerSessionHost::notifyCameraLost(const std::string& cameraName, QWidget* window) {
    logLine("camera lost: " + cameraName);
    alarms_->notifier().notify(
        QString::fromStdString(localizedString("CAMERA_LOST", "Camera lost: ") + cameraName),
        QString::fromStdString(localizedString(
            "CAMERA_LOST_INFO",
            "No connection for 5 minutes. Its window has closed; click the camera on the "
            "radar when it is back.")),
        window);
}

}  // namespace vistamo
