#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vistamo {

class KeyedArchiver;
class KeyedUnarchiver;

// What the viewer knows of one camera, found by discovery or added by address: plain data, with
// no part of the user interface in it. A camera's identity is the record object itself (a
// camera added by address has no uuid until it answers a session).
//
// Records are owned by std::shared_ptr (discovery's list, a session, a camera window) and read
// and changed on the main thread (discovery, the scanner window, camera windows) and on session
// queues (the uuid, name and password a camera answers with): every property is reached through
// its getter and setter, which take the record's lock, so any thread may call them. A
// read-then-write sequence of two calls is not atomic.
class CameraRecord {
public:
    static constexpr int64_t kDefaultPort = 7341;
    static constexpr int64_t kInitialShowTimes = 3;

    CameraRecord() = default;
    CameraRecord(const CameraRecord&) = delete;
    CameraRecord& operator=(const CameraRecord&) = delete;

    // Writes "Name", "IP", "Port", "Password", "UUID", "Type" and "WAN". ticksLeft and
    // bOccupied are not archived.
    void encode(KeyedArchiver& coder) const;

    // A record from the archived keys. The initial values are not applied: a missing key reads
    // as false, 0 or none, and ticksLeft is 0.
    static std::shared_ptr<CameraRecord> decode(const KeyedUnarchiver& coder);

    bool wideArea() const;
    void setWideArea(bool value);
    std::optional<std::string> name() const;
    void setName(std::optional<std::string> value);
    std::optional<std::string> address() const;
    void setAddress(std::optional<std::string> value);
    int64_t port() const;
    void setPort(int64_t value);
    std::optional<std::string> password() const;
    void setPassword(std::optional<std::string> value);
    std::optional<std::string> uuid() const;
    void setUuid(std::optional<std::string> value);
    int64_t type() const;
    void setType(int64_t value);
    int64_t ticksLeft() const;
    void setTicksLeft(int64_t value);
    bool bOccupied() const;
    void setBOccupied(bool value);

private:
    // Guards every field below.
    mutable std::mutex lock_;
    bool wideArea_ = false;  // reached over the wide-area network
    std::optional<std::string> name_;
    std::optional<std::string> address_;  // IPv4 dotted or IPv6 text
    int64_t port_ = kDefaultPort;
    // The password sent to the camera: the stored one when the scanner window learns of the
    // camera, or the one the user typed for it since, accepted or not.
    std::optional<std::string> password_;
    std::optional<std::string> uuid_;  // none for a camera added by address
    int64_t type_ = 0;
    int64_t ticksLeft_ = kInitialShowTimes;  // discovery ticks left before the camera is gone
    bool bOccupied_ = false;                 // a camera window is open for this record
};

}  // namespace vistamo
