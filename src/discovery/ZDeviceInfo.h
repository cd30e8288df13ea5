#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vistamo {

class DeviceButton;
class KeyedArchiver;
class KeyedUnarchiver;

// The record of one camera, found by discovery or added by address. Records are owned by
// std::shared_ptr (the scanner's list, a session, a challenge) and read and changed from the
// discovery queue, the main thread and session queues: every property is reached through its
// getter and setter, which take the record's lock, so any thread may call them. A
// read-then-write sequence of two calls is not atomic.
class ZDeviceInfo {
public:
    static constexpr int64_t kDefaultPort = 7341;
    static constexpr int64_t kInitialShowTimes = 3;

    ZDeviceInfo() = default;
    ZDeviceInfo(const ZDeviceInfo&) = delete;
    ZDeviceInfo& operator=(const ZDeviceInfo&) = delete;

    // Writes "Name", "IP", "Port", "Password", "UUID", "Type" and "WAN". mReserved,
    // mShowTimes, bOccupied and the button are not archived.
    void encodeWithCoder(KeyedArchiver& coder) const;

    // A record from the archived keys. The initial values are not applied: a missing key reads
    // as false, 0 or none, and mShowTimes is 0.
    static std::shared_ptr<ZDeviceInfo> initWithCoder(const KeyedUnarchiver& coder);

    bool mbWAN() const;
    void setMbWAN(bool value);
    std::optional<std::string> mDeviceName() const;
    void setMDeviceName(std::optional<std::string> value);
    std::optional<std::string> mDeviceIP() const;
    void setMDeviceIP(std::optional<std::string> value);
    int64_t mPort() const;
    void setMPort(int64_t value);
    std::optional<std::string> mPassword() const;
    void setMPassword(std::optional<std::string> value);
    std::optional<std::string> mUUID() const;
    void setMUUID(std::optional<std::string> value);
    int64_t mDeviceType() const;
    void setMDeviceType(int64_t value);
    int64_t mReserved() const;
    void setMReserved(int64_t value);
    int64_t mShowTimes() const;
    void setMShowTimes(int64_t value);
    bool bOccupied() const;
    void setBOccupied(bool value);
    // The record's button on the scanner view, owned by that view.
    std::weak_ptr<DeviceButton> button() const;
    void setButton(std::weak_ptr<DeviceButton> value);

private:
    // Guards every field below.
    mutable std::mutex lock_;
    bool mbWAN_ = false;  // reached over the wide-area network
    std::optional<std::string> mDeviceName_;
    std::optional<std::string> mDeviceIP_;  // IPv4 dotted or IPv6 text
    int64_t mPort_ = kDefaultPort;
    std::optional<std::string> mPassword_;
    std::optional<std::string> mUUID_;  // none for a camera added by address
    int64_t mDeviceType_ = 0;
    int64_t mReserved_ = 0;
    int64_t mShowTimes_ = kInitialShowTimes;  // discovery ticks left before the button hides
    bool bOccupied_ = false;                  // a camera window is open for this record
    std::weak_ptr<DeviceButton> button_;
};

}  // namespace vistamo
