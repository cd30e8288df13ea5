#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vistamo {

class CameraSession;
class PasswordStore;
class CameraRecord;

// What a session needs of the scanner that owns it. The session holds it weakly. Every
// operation has a safe default, so a scanner implements only what it offers.
class SessionScanner {
public:
    virtual ~SessionScanner() = default;

    // The last snapshot number, and its update. Main thread.
    virtual long picID() const { return 0; }
    virtual void setPicID(long /*picID*/) {}

    // The connection of `device` (none for a typed address) has ended. Called on the session's
    // "Client Queue". Default: nothing.
    virtual void cameraWentDown(const std::shared_ptr<CameraRecord>& /*device*/) {}

    // The camera of `session` reported motion. Called on the session's queue for every alarm
    // message, in the order they came; the session does nothing else with an alarm, so what an
    // alarm does (actions, sound, notice, clip, the guard switched off) is the implementation's.
    // `session` lives through the call. Default: nothing.
    virtual void alarmFrom(CameraSession& /*session*/) {}
    // The user switched the motion guard of `session`'s camera on or off: a new guard period
    // begins. Called on the thread that sent the command, before it is sent. Default: nothing.
    virtual void guardSwitched(const CameraSession& /*session*/) {}

    // The service name of the camera settings record sent in the client's challenge; none when
    // the record is absent. Read on the session's queue.
    virtual std::optional<std::string> serviceName() const { return std::nullopt; }

    // The store of accepted passwords. Main thread. Default: none (nothing is stored).
    virtual PasswordStore* config() { return nullptr; }
};

}  // namespace vistamo
