#include "app/AlarmDispatcher.h"

#include <unistd.h>

#include "app/AlarmActions.h"
#include "app/DesktopNotifier.h"
#include "dispatch/MainQueue.h"
#include "platform/Log.h"
#include "platform/SoundPlayer.h"
#include "session/CameraSession.h"
#include "workspace/Workspace.h"

namespace vistamo {

std::shared_ptr<AlarmDispatcher> AlarmDispatcher::create(AlarmOptions& options,
                                                         std::shared_ptr<Workspace> workspace,
                                                         Hooks hooks) {
    return std::shared_ptr<AlarmDispatcher>(
        new AlarmDispatcher(options, std::move(workspace), std::move(hooks)));
}

AlarmDispatcher::AlarmDispatcher(AlarmOptions& options, std::shared_ptr<Workspace> workspace,
                                 Hooks hooks)
    : options_(options),
      workspace_(std::move(workspace)),
      hooks_(std::move(hooks)),
      onceMode_(options.bOnceAlarm) {}

AlarmDispatcher::~AlarmDispatcher() = default;

void AlarmDispatcher::publishOptions() { onceMode_ = options_.bOnceAlarm; }

DesktopNotifier& AlarmDispatcher::notifier() {
    if (!notifier_) {
        notifier_ = std::make_unique<DesktopNotifier>();
    }
    return *notifier_;
}

void AlarmDispatcher::alarmFrom(CameraSession& session) {
    // Before the guard rule, and for every alarm: a second alarm extends the clip.
    if (const auto& clip = session.clipSettings(); clip && clip->recordClip) {
        session.startAlarmClip();
    }
    bool first = false;
    {
        std::lock_guard guard(guardLock_);
        std::erase_if(alarmed_, [](const auto& entry) { return entry.expired(); });
        const std::weak_ptr<const CameraSession> key = session.weak_from_this();
        first = alarmed_.insert(key).second;
        if (!first) {
            alarmed_.erase(key);
        }
    }
    if (first) {
        dispatch::mainQueue().async([weakSelf = weak_from_this(),
                                     weakSession = session.weak_from_this(),
                                     sound = session.alarmSound()] {
            if (auto self = weakSelf.lock()) {
                self->runAlarm(weakSession, sound);
            }
        });
    } else if (onceMode_) {
        session.switchGuardOff();
    }
}

void AlarmDispatcher::guardSwitched(const CameraSession& session) {
    std::lock_guard guard(guardLock_);
    alarmed_.erase(session.weak_from_this());
}

void AlarmDispatcher::runAlarm(const std::weak_ptr<CameraSession>& session,
                               const std::shared_ptr<SoundPlayer>& alarmSound) {
    if (hooks_.alarmed) {
        hooks_.alarmed(session);
    }
    // The pass calls these back while it runs, so the dispatcher is there for them.
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
    runAlarmPass(context);
    // Once per alarm, however many applications the pass went through.
    if (alarmSound && options_.bEnableSound) {
        alarmSound->play();
    }
    if (alarmSound && alarmSound->isPlaying()) {
        debugLine("motion alarm: the alarm sound is playing");
    } else {
        debugLine("motion alarm: the alarm actions ran");
    }

    const auto alarmed = hooks_.windowOf ? hooks_.windowOf(session) : std::nullopt;
    if (alarmed) {
        notifier().notifyMotion(QString::fromStdString(alarmed->cameraName), alarmed->window);
    }
}

}  // namespace vistamo
