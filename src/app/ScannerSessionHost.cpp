#include "app/ScannerSessionHost.h"

#include <unistd.h>

#include "app/AlarmActions.h"
#include "app/DesktopNotifier.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/SoundPlayer.h"
#include "workspace/Workspace.h"

namespace vistamo {

ScannerSessionHost::ScannerSessionHost(AlarmOptions& options, PasswordStore* config,
                                       std::shared_ptr<Workspace> workspace, Hooks hooks)
    : options_(options),
      config_(config),
      workspace_(std::move(workspace)),
      hooks_(std::move(hooks)),
      bOnceAlarm_(options.bOnceAlarm) {}

ScannerSessionHost::~ScannerSessionHost() = default;

long ScannerSessionHost::picID() const { return static_cast<long>(options_.picID); }

void ScannerSessionHost::setPicID(long picID) { options_.picID = picID; }

bool ScannerSessionHost::bOnceAlarm() const { return bOnceAlarm_.load(); }

void ScannerSessionHost::publishOptions() { bOnceAlarm_ = options_.bOnceAlarm; }

void ScannerSessionHost::cameraWentDown(const std::shared_ptr<CameraRecord>& /*device*/) {}

std::optional<std::string> ScannerSessionHost::serviceName() const {
    return version_ ? version_->mServiceName : std::nullopt;
}

void ScannerSessionHost::runAlarmActions(const std::shared_ptr<SoundPlayer>& alarmSound) {
    // The pass calls these back while it runs, so the host is there for them.
    AlarmPassContext context;
    context.workspace = workspace_;
    context.options = [this] { return options_; };
    context.bringMainWindowToFront = [this] {
        if (hooks_.bringWindowsForward) {
            hooks_.bringWindowsForward();
        }
    };
    // The window manager's request, as for any other application: without it a viewer in the
    // background stays behind whatever the user is working in.
    context.activateViewer = [workspace = workspace_] {
        workspace->activate(RunningApplication{::getpid(), "vistamo", 0});
    };
    context.alarmSound = alarmSound;
    runAlarmPass(context);
    if (alarmSound && alarmSound->isPlaying()) {
        debugLine("motion alarm: the alarm sound is playing");
    } else {
        debugLine("motion alarm: the alarm actions ran");
    }
}

void ScannerSessionHost::runAlarmActionsFor(const std::weak_ptr<CameraSession>& session,
                                            const std::shared_ptr<SoundPlayer>& alarmSound) {
    runAlarmActions(alarmSound);
    const auto alarmed = hooks_.windowOf ? hooks_.windowOf(session) : std::nullopt;
    if (!alarmed) {
        return;
    }
    if (!notifier_) {
        notifier_ = std::make_unique<DesktopNotifier>();
    }
    notifier_->notifyMotion(QString::fromStdString(alarmed->cameraName), alarmed->window);
}

void ScannerSessionHost::notifyCameraLost(const std::string& cameraName, QWidget* window) {
    logLine("camera lost: " + cameraName);
    if (!notifier_) {
        notifier_ = std::make_unique<DesktopNotifier>();
    }
    notifier_->notify(
        QString::fromStdString(localizedString("CAMERA_LOST", "Camera lost: ") + cameraName),
        QString::fromStdString(localizedString(
            "CAMERA_LOST_INFO",
            "No connection for 5 minutes. Its window has closed; click the camera on the "
            "radar when it is back.")),
        window);
}

}  // namespace vistamo
