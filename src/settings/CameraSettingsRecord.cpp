#include "settings/CameraSettingsRecord.h"

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

std::string cameraSettingsVersionText() {
    return std::string("V. ") + VISTAMO_VERSION + " (build" + VISTAMO_BUILD + ")";
}

void CameraSettingsRecord::encode(KeyedArchiver& coder) const {
    coder.encodeBool(useBluetooth, kUseBluetooth);
    coder.encodeBool(bluetoothAdvertisement, kBluetoothAdvertisement);
    coder.encodeBool(enableWifi, kEnableWifi);
    coder.encodeBool(wifiBroadcast, kEnableWifiBroadcast);
    coder.encodeObject(version, kVersion);
    coder.encodeObject(serviceName, kServiceName);
    coder.encodeInteger(port, kPort);
    coder.encodeObject(password, kPassword);
    coder.encodeBool(hideInterface, kHideInterface);
    coder.encodeBool(soundAlert, kSoundAlert);
    coder.encodeBool(flashAlert, kFlashAlert);
    coder.encodeBool(shakeAlert, kShakeAlert);
    coder.encodeBool(videoDate, kVideoDate);
    coder.encodeInteger(sensitivity, kSensitive);
    coder.encodeInteger(videoQuality, kVideoQuality);
    coder.encodeObject(videoResolution, kVideoResolution);
    coder.encodeInteger(videoFps, kVideoFps);
    coder.encodeBool(enableSound, kEnableSound);
    coder.encodeBool(serverOnly, kServerOnly);
    coder.encodeBool(enableGuarding, kEnableGuarding);
    coder.encodeObject(registerName, kRegisterName);
    coder.encodeObject(registerPassword, kRegisterPassword);
    coder.encodeBool(hideCoverHelp, kCoverHelp);
    // The archive's integers are signed; the counter keeps its bits and reads back the same.
    coder.encodeInteger(static_cast<int64_t>(pictureNumber), kPictureNumber);
}

CameraSettingsRecord CameraSettingsRecord::decode(const KeyedUnarchiver& coder) {
    CameraSettingsRecord record;
    record.useBluetooth = coder.decodeBool(kUseBluetooth);
    record.bluetoothAdvertisement = coder.decodeBool(kBluetoothAdvertisement);
    record.enableWifi = coder.decodeBool(kEnableWifi);
    record.wifiBroadcast = coder.decodeBool(kEnableWifiBroadcast);
    record.version = coder.decodeObject(kVersion);
    record.serviceName = coder.decodeObject(kServiceName);
    record.port = coder.decodeInteger(kPort);
    record.password = coder.decodeObject(kPassword);
    record.hideInterface = coder.decodeBool(kHideInterface);
    record.soundAlert = coder.decodeBool(kSoundAlert);
    record.flashAlert = coder.decodeBool(kFlashAlert);
    record.shakeAlert = coder.decodeBool(kShakeAlert);
    record.videoDate = coder.decodeBool(kVideoDate);
    record.sensitivity = coder.decodeInteger(kSensitive);
    const int64_t quality = coder.decodeInteger(kVideoQuality);
    if (quality < std::numeric_limits<int32_t>::min() ||
        quality > std::numeric_limits<int32_t>::max()) {
        logLine("camera settings: video quality " + std::to_string(quality) +
                " is out of range; reading 0");
        record.videoQuality = 0;
    } else {
        record.videoQuality = static_cast<int32_t>(quality);
    }
    record.videoResolution = coder.decodeObject(kVideoResolution);
    record.videoFps = coder.decodeInteger(kVideoFps);
    record.enableSound = coder.decodeBool(kEnableSound);
    record.serverOnly = coder.decodeBool(kServerOnly);
    record.enableGuarding = coder.decodeBool(kEnableGuarding);
    record.registerName = coder.decodeObject(kRegisterName);
    record.registerPassword = coder.decodeObject(kRegisterPassword);
    record.hideCoverHelp = coder.decodeBool(kCoverHelp);
    record.hideTouchFocusHelp = false;
    record.pictureNumber = static_cast<uint64_t>(coder.decodeInteger(kPictureNumber));

    // A decoded record always carries the running program's version.
    const std::string current = cameraSettingsVersionText();
    if (record.version != current) {
        record.version = current;
    }
    return record;
}

Bytes CameraSettingsRecord::archivedData() const {
    KeyedArchiver coder;
    encode(coder);
    return coder.archivedData();
}

std::optional<CameraSettingsRecord> CameraSettingsRecord::fromArchivedData(ByteView data) {
    Error error;
    const auto coder = KeyedUnarchiver::unarchive(data, &error);
    if (!coder) {
        logLine("camera settings not read: " + error.description);
        return std::nullopt;
    }
    return decode(*coder);
}

}  // namespace vistamo
