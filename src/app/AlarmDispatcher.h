#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "settings/OptionData.h"

class QWidget;

namespace vistamo {

class CameraSession;
class DesktopNotifier;
class SoundPlayer;
class Workspace;

// What a camera's motion alarm does. Sessions only report "alarm from this camera"; this class
// decides the rest:
//  - every alarm, with "Record a clip" on for the session, begins or extends the alarm clip;
//  - the first alarm of a guard period runs the alarm: the desktop actions of the options
//    (runAlarmPass), the alarm sound asked to play once, a debug line, and a desktop notice
//    naming the camera when it has a window;
//  - the next alarm ends the guard period: in "once" mode it switches the camera's motion guard
//    off, otherwise the camera stays armed and the alarm after it runs the actions again;
//  - the user switching the guard on or off begins a new guard period.
//
// Threads: `alarmFrom` runs on the reporting session's queue (several sessions' queues at once),
// `guardSwitched` on whichever thread sends the user's guard command, everything else on the
// main thread; the fields below say which of them touches what.
//
// Owned by the scanner's session host. It is held through a shared_ptr only so that the work
// it posts to the main queue can tell whether it is still there.
class AlarmDispatcher final : public std::enable_shared_from_this<AlarmDispatcher> {
public:
    // A camera window, as the alarm's notice names and raises it.
    struct AlarmedWindow {
        std::string cameraName;
        QWidget* window = nullptr;
    };

    // What the dispatcher asks of the scanner; called on the main thread, during the alarm's
    // actions, and only while the dispatcher lives. Any may be left empty.
    struct Hooks {
        // The viewer's own windows to the front, the scanner window becoming the active one.
        std::function<void()> bringWindowsForward;
        // The open camera window that shows `session`, if any. Weak, and best compared by
        // owner: a reference taken on the main thread could make it the session's last owner,
        // which must not be destroyed there.
        std::function<std::optional<AlarmedWindow>(const std::weak_ptr<CameraSession>& session)>
            windowOf;
        // `session`'s camera had the first alarm of a guard period (before the actions run).
        std::function<void(const std::weak_ptr<CameraSession>& session)> alarmed;
    };

    // `options` are the scanner's and outlive the dispatcher. Main thread.
    static std::shared_ptr<AlarmDispatcher> create(AlarmOptions& options,
                                                   std::shared_ptr<Workspace> workspace,
                                                   Hooks hooks);
    ~AlarmDispatcher();

    AlarmDispatcher(const AlarmDispatcher&) = delete;
    AlarmDispatcher& operator=(const AlarmDispatcher&) = delete;

    // An alarm message from the camera of `session`. On that session's queue.
    void alarmFrom(CameraSession& session);
    // The user switched the motion guard of `session`'s camera. Any thread.
    void guardSwitched(const CameraSession& session);

    // Hands the options' "once" mode to the sessions' queues; after every change of the
    // options. Main thread.
    void publishOptions();

    // The desktop notices, made at first use (it joins the session bus); shared with the
    // scanner's other notices. Main thread.
    DesktopNotifier& notifier();

private:
    AlarmDispatcher(AlarmOptions& options, std::shared_ptr<Workspace> workspace, Hooks hooks);

    // The first alarm of a guard period, on the main thread.
    void runAlarm(const std::weak_ptr<CameraSession>& session,
                  const std::shared_ptr<SoundPlayer>& alarmSound);

    // Set once at construction.
    AlarmOptions& options_;  // main thread only
    const std::shared_ptr<Workspace> workspace_;
    const Hooks hooks_;

    // Main thread only.
    std::unique_ptr<DesktopNotifier> notifier_;

    // Written on the main thread, read on the sessions' queues.
    std::atomic<bool> onceMode_;

    // The sessions whose camera has alarmed in the current guard period; expired ones are
    // dropped at the next alarm. Guarded by `guardLock_`, taken on the sessions' queues and by
    // whichever thread switches a guard; nothing is called while it is held.
    std::mutex guardLock_;
    std::set<std::weak_ptr<const CameraSession>, std::owner_less<>> alarmed_;
};

}  // namespace vistamo
