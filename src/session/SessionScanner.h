#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vistamo {

class CameraSession;
class PasswordStore;
class CameraRecord;
class SoundPlayer;

// What a session needs of the scanner that owns it. The session holds it weakly. Every
// operation has a safe default, so a scanner implements only what it offers.
class SessionScanner {
public:
    virtual ~SessionScanner() = default;

    // The last snapshot number, and its update. Main thread.
    virtual long picID() const { return 0; }
    virtual void setPicID(long /*picID*/) {}

    // Whether the second alarm of a pair disarms the camera. Read on the session's queue, so
    // the implementation must make it safe to read from there.
    virtual bool bOnceAlarm() const { return false; }

    // The connection of `device` (none for a typed address) has ended. Called on the session's
    // "Client Queue". Default: nothing.
    virtual void cameraWentDown(const std::shared_ptr<CameraRecord>& /*device*/) {}

    // The alarm actions for one alarm event: launch, quit or raise the chosen applications and
    // play `alarmSound` (none when the session has no sound). Main thread. Default: nothing.
    virtual void runAlarmActions(const std::shared_ptr<SoundPlayer>& /*alarmSound*/) {}
    // The same, naming the session whose camera reported the alarm. Weak, and best compared
    // by owner: a reference taken on the main thread could make it the session's last owner,
    // which must not be destroyed there. Main thread. Default: runAlarmActions.
    virtual void runAlarmActionsFor(const std::weak_ptr<CameraSession>& /*session*/,
                                    const std::shared_ptr<SoundPlayer>& alarmSound) {
        runAlarmActions(alarmSound);
    }

    // The service name of the camera settings record sent in the client's challenge; none when
    // the record is absent. Read on the session's queue.
    virtual std::optional<std::string> serviceName() const { return std::nullopt; }

    // The store of accepted passwords. Main thread. Default: none (nothing is stored).
    virtual PasswordStore* config() { return nullptr; }
};

}  // namespace vistamo
