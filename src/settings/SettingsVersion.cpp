#include "settings/SettingsVersion.h"

#include <limits>

#include "platform/Log.h"

namespace vistamo {

namespace {

// Keys of the archive, in the order they are written.
constexpr const char* kUseBluetooth = "Use Bluetooth";
constexpr const char* kBluetoothAdvertisement = "Bluetooth Advertisement";
constexpr const char* kEnableWifi = "Enable WIFI";
constexpr const char* kEnableWifiBroadcast = "Enable WIFI Broadcast";
constexpr const char* kVersion = "Version";
constexpr const char* kServiceName = "Service Name";
constexpr const char* kPort = "Port";
constexpr const char* kPassword = "Password";
constexpr const char* kHideInterface = "Hide interface";
constexpr const char* kSoundAlert = "Enable Sound Alert";
constexpr const char* kFlashAlert = "Enable Flash Alert";
constexpr const char* kShakeAlert = "Enable Shake Alert";
constexpr const char* kVideoDate = "Enable Video Date";
constexpr const char* kSensitive = "Sensitive";
constexpr const char* kVideoQuality = "Video Quality";
constexpr const char* kVideoResolution = "Video Resolution";
constexpr const char* kVideoFps = "Video FPS";
constexpr const char* kEnableSound = "Enable Sound";
constexpr const char* kServerOnly = "Server Only";
constexpr const char* kEnableGuarding = "Enable Guarding";
constexpr const char* kRegisterName = "Register Name";
constexpr const char* kRegisterPassword = "Register Password";
constexpr const char* kCoverHelp = "Discover Screen Help";
constexpr const char* kPictureNumber = "Picture Number";

}  // namespace

std::string configurationVersionText() {
    return std::string("V. ") + VISTAMO_VERSION + " (build" + VISTAMO_BUILD + ")";
}

void SettingsVersion::encode(KeyedArchiver& coder) const {
    coder.encodeBool(mbEnableBLE, kUseBluetooth);
    coder.encodeBool(mbBluetoothAdvertisement, kBluetoothAdvertisement);
    coder.encodeBool(mbEnableWIFI, kEnableWifi);
    coder.encodeBool(mbWIFIBroadcast, kEnableWifiBroadcast);
    coder.encodeObject(mVersion, kVersion);
    coder.encodeObject(mServiceName, kServiceName);
    coder.encodeInteger(port, kPort);
    coder.encodeObject(password, kPassword);
    coder.encodeBool(mbHideInterface, kHideInterface);
    coder.encodeBool(mbSoundAlert, kSoundAlert);
    coder.encodeBool(mbFlashAlert, kFlashAlert);
    coder.encodeBool(mbShakeAlert, kShakeAlert);
    coder.encodeBool(mbVideoDate, kVideoDate);
    coder.encodeInteger(miSensitive, kSensitive);
    coder.encodeInteger(miQuality, kVideoQuality);
    coder.encodeObject(mResolution, kVideoResolution);
    coder.encodeInteger(mFPS, kVideoFps);
    coder.encodeBool(mbEnableSound, kEnableSound);
    coder.encodeBool(mbServerOnly, kServerOnly);
    coder.encodeBool(mbEnableGuarding, kEnableGuarding);
    coder.encodeObject(mRegisterName, kRegisterName);
    coder.encodeObject(mRegisterPassword, kRegisterPassword);
    coder.encodeBool(mbNotShowCoverHelp, kCoverHelp);
    // The archive's integers are signed; the counter keeps its bits and reads back the same.
    coder.encodeInteger(static_cast<int64_t>(mPictureNumber), kPictureNumber);
}

SettingsVersion SettingsVersion::decode(const KeyedUnarchiver& coder) {
    SettingsVersion record;
    record.mbEnableBLE = coder.decodeBool(kUseBluetooth);
    record.mbBluetoothAdvertisement = coder.decodeBool(kBluetoothAdvertisement);
    record.mbEnableWIFI = coder.decodeBool(kEnableWifi);
    record.mbWIFIBroadcast = coder.decodeBool(kEnableWifiBroadcast);
    record.mVersion = coder.decodeObject(kVersion);
    record.mServiceName = coder.decodeObject(kServiceName);
    record.port = coder.decodeInteger(kPort);
    record.password = coder.decodeObject(kPassword);
    record.mbHideInterface = coder.decodeBool(kHideInterface);
    record.mbSoundAlert = coder.decodeBool(kSoundAlert);
    record.mbFlashAlert = coder.decodeBool(kFlashAlert);
    record.mbShakeAlert = coder.decodeBool(kShakeAlert);
    record.mbVideoDate = coder.decodeBool(kVideoDate);
    record.miSensitive = coder.decodeInteger(kSensitive);
    const int64_t quality = coder.decodeInteger(kVideoQuality);
    if (quality < std::numeric_limits<int32_t>::min() ||
        quality > std::numeric_limits<int32_t>::max()) {
        logLine("camera settings: video quality " + std::to_string(quality) +
                " is out of range; reading 0");
        record.miQuality = 0;
    } else {
        record.miQuality = static_cast<int32_t>(quality);
    }
    record.mResolution = coder.decodeObject(kVideoResolution);
    record.mFPS = coder.decodeInteger(kVideoFps);
    record.mbEnableSound = coder.decodeBool(kEnableSound);
    record.mbServerOnly = coder.decodeBool(kServerOnly);
    record.mbEnableGuarding = coder.decodeBool(kEnableGuarding);
    record.mRegisterName = coder.decodeObject(kRegisterName);
    record.mRegisterPassword = coder.decodeObject(kRegisterPassword);
    record.mbNotShowCoverHelp = coder.decodeBool(kCoverHelp);
    record.mbNotShowTouchFocusHelp = false;
    record.mPictureNumber = static_cast<uint64_t>(coder.decodeInteger(kPictureNumber));

    // A decoded record always carries the running program's version.
    const std::string current = configurationVersionText();
    if (record.mVersion != current) {
        record.mVersion = current;
    }
    return record;
}

Bytes SettingsVersion::archivedData() const {
    KeyedArchiver coder;
    encode(coder);
    return coder.archivedData();
}

std::optional<SettingsVersion> SettingsVersion::fromArchivedData(ByteView data) {
    Error error;
    const auto coder = KeyedUnarchiver::unarchive(data, &error);
    if (!coder) {
        logLine("camera settings not read: " + error.description);
        return std::nullopt;
    }
    return decode(*coder);
}

}  // namespace vistamo
