#include "discovery/CameraRecord.h"

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

void CameraRecord::encode(KeyedArchiver& coder) const {
    std::lock_guard guard(lock_);
    coder.encodeObject(name_, "Name");
    coder.encodeObject(address_, "IP");
    coder.encodeInteger(port_, "Port");
    coder.encodeObject(password_, "Password");
    coder.encodeObject(uuid_, "UUID");
    coder.encodeInteger(type_, "Type");
    coder.encodeBool(wideArea_, "WAN");
}

std::shared_ptr<CameraRecord> CameraRecord::decode(const KeyedUnarchiver& coder) {
    auto record = std::make_shared<CameraRecord>();
    // Not shared yet: no other thread can see the record.
    record->name_ = coder.decodeObject("Name");
    record->address_ = coder.decodeObject("IP");
    record->port_ = coder.decodeInteger("Port");
    record->password_ = coder.decodeObject("Password");
    record->uuid_ = coder.decodeObject("UUID");
    record->type_ = coder.decodeInteger("Type");
    record->wideArea_ = coder.decodeBool("WAN");
    record->ticksLeft_ = 0;
    return record;
}

bool CameraRecord::wideArea() const { return readLocked(lock_, wideArea_); }
void CameraRecord::setWideArea(bool value) { writeLocked(lock_, wideArea_, value); }

std::optional<std::string> CameraRecord::name() const { return readLocked(lock_, name_); }
void CameraRecord::setName(std::optional<std::string> value) {
    writeLocked(lock_, name_, std::move(value));
}

std::optional<std::string> CameraRecord::address() const { return readLocked(lock_, address_); }
void CameraRecord::setAddress(std::optional<std::string> value) {
    writeLocked(lock_, address_, std::move(value));
}

int64_t CameraRecord::port() const { return readLocked(lock_, port_); }
void CameraRecord::setPort(int64_t value) { writeLocked(lock_, port_, value); }

std::optional<std::string> CameraRecord::password() const { return readLocked(lock_, password_); }
void CameraRecord::setPassword(std::optional<std::string> value) {
    writeLocked(lock_, password_, std::move(value));
}

std::optional<std::string> CameraRecord::uuid() const { return readLocked(lock_, uuid_); }
void CameraRecord::setUuid(std::optional<std::string> value) {
    writeLocked(lock_, uuid_, std::move(value));
}

int64_t CameraRecord::type() const { return readLocked(lock_, type_); }
void CameraRecord::setType(int64_t value) { writeLocked(lock_, type_, value); }

int64_t CameraRecord::ticksLeft() const { return readLocked(lock_, ticksLeft_); }
void CameraRecord::setTicksLeft(int64_t value) { writeLocked(lock_, ticksLeft_, value); }

bool CameraRecord::bOccupied() const { return readLocked(lock_, bOccupied_); }
void CameraRecord::setBOccupied(bool value) { writeLocked(lock_, bOccupied_, value); }

}  // namespace vistamo
