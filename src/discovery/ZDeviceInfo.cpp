#include "discovery/ZDeviceInfo.h"

#include "settings/KeyedArchive.h"

namespace vistamo {

namespace {

template <typename T>
T readLocked(std::mutex& lock, const T& field) {
    std::lock_guard guard(lock);
    return field;
}

template <typename T>
void writeLocked(std::mutex& lock, T& field, T value) {
    std::lock_guard guard(lock);
    field = std::move(value);
}

}  // namespace

void ZDeviceInfo::encodeWithCoder(KeyedArchiver& coder) const {
    std::lock_guard guard(lock_);
    coder.encodeObject(mDeviceName_, "Name");
    coder.encodeObject(mDeviceIP_, "IP");
    coder.encodeInteger(mPort_, "Port");
    coder.encodeObject(mPassword_, "Password");
    coder.encodeObject(mUUID_, "UUID");
    coder.encodeInteger(mDeviceType_, "Type");
    coder.encodeBool(mbWAN_, "WAN");
}

std::shared_ptr<ZDeviceInfo> ZDeviceInfo::initWithCoder(const KeyedUnarchiver& coder) {
    auto record = std::make_shared<ZDeviceInfo>();
    // Not shared yet: no other thread can see the record.
    record->mDeviceName_ = coder.decodeObject("Name");
    record->mDeviceIP_ = coder.decodeObject("IP");
    record->mPort_ = coder.decodeInteger("Port");
    record->mPassword_ = coder.decodeObject("Password");
    record->mUUID_ = coder.decodeObject("UUID");
    record->mDeviceType_ = coder.decodeInteger("Type");
    record->mbWAN_ = coder.decodeBool("WAN");
    record->mShowTimes_ = 0;
    return record;
}

bool ZDeviceInfo::mbWAN() const { return readLocked(lock_, mbWAN_); }
void ZDeviceInfo::setMbWAN(bool value) { writeLocked(lock_, mbWAN_, value); }

std::optional<std::string> ZDeviceInfo::mDeviceName() const {
    return readLocked(lock_, mDeviceName_);
}
void ZDeviceInfo::setMDeviceName(std::optional<std::string> value) {
    writeLocked(lock_, mDeviceName_, std::move(value));
}

std::optional<std::string> ZDeviceInfo::mDeviceIP() const { return readLocked(lock_, mDeviceIP_); }
void ZDeviceInfo::setMDeviceIP(std::optional<std::string> value) {
    writeLocked(lock_, mDeviceIP_, std::move(value));
}

int64_t ZDeviceInfo::mPort() const { return readLocked(lock_, mPort_); }
void ZDeviceInfo::setMPort(int64_t value) { writeLocked(lock_, mPort_, value); }

std::optional<std::string> ZDeviceInfo::mPassword() const { return readLocked(lock_, mPassword_); }
void ZDeviceInfo::setMPassword(std::optional<std::string> value) {
    writeLocked(lock_, mPassword_, std::move(value));
}

std::optional<std::string> ZDeviceInfo::mUUID() const { return readLocked(lock_, mUUID_); }
void ZDeviceInfo::setMUUID(std::optional<std::string> value) {
    writeLocked(lock_, mUUID_, std::move(value));
}

int64_t ZDeviceInfo::mDeviceType() const { return readLocked(lock_, mDeviceType_); }
void ZDeviceInfo::setMDeviceType(int64_t value) { writeLocked(lock_, mDeviceType_, value); }

int64_t ZDeviceInfo::mReserved() const { return readLocked(lock_, mReserved_); }
void ZDeviceInfo::setMReserved(int64_t value) { writeLocked(lock_, mReserved_, value); }

int64_t ZDeviceInfo::mShowTimes() const { return readLocked(lock_, mShowTimes_); }
void ZDeviceInfo::setMShowTimes(int64_t value) { writeLocked(lock_, mShowTimes_, value); }

bool ZDeviceInfo::bOccupied() const { return readLocked(lock_, bOccupied_); }
void ZDeviceInfo::setBOccupied(bool value) { writeLocked(lock_, bOccupied_, value); }

std::weak_ptr<DeviceButton> ZDeviceInfo::button() const { return readLocked(lock_, button_); }
void ZDeviceInfo::setButton(std::weak_ptr<DeviceButton> value) {
    writeLocked(lock_, button_, std::move(value));
}

}  // namespace vistamo
