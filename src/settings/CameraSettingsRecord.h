#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "settings/KeyedArchive.h"

namespace vistamo {

// The version text a camera settings record carries: "V. <version> (build<build>)".
std::string cameraSettingsVersionText();

// The settings record of a camera server: transport switches, the name and port it announces,
// alarm switches and video quality, with a keyed-archive form. A plain value; copy freely.
struct CameraSettingsRecord {
    // A record with the defaults below.
    CameraSettingsRecord() = default;

    // Writes every archived field under its key, in declaration order (booleans as booleans,
    // integers as integers, texts as objects; a missing text as none).
    void encode(KeyedArchiver& coder) const;

    // Reads every archived field from its key: a missing boolean reads false, a missing
    // integer 0, a missing text none; the defaults are not applied. `version` then becomes the
    // running program's version text, and `hideTouchFocusHelp` (not archived) is false.
    static CameraSettingsRecord decode(const KeyedUnarchiver& coder);

    // The record as an archive's bytes, and back (none for bytes that are not an archive).
    Bytes archivedData() const;
    static std::optional<CameraSettingsRecord> fromArchivedData(ByteView data);

    // The fields, each with its archive key.
    bool useBluetooth = true;                                          // "Use Bluetooth"
    bool bluetoothAdvertisement = true;                                // "Bluetooth Advertisement"
    bool enableWifi = true;                                            // "Enable WIFI"
    bool wifiBroadcast = true;                                         // "Enable WIFI Broadcast"
    std::optional<std::string> version = cameraSettingsVersionText();  // "Version"
    std::optional<std::string> serviceName = std::string();            // "Service Name"
    int64_t port = 7341;                                               // "Port"
    std::optional<std::string> password;                               // "Password"
    bool hideInterface = false;                                        // "Hide interface"
    bool soundAlert = false;                                           // "Enable Sound Alert"
    bool flashAlert = true;                                            // "Enable Flash Alert"
    bool shakeAlert = true;                                            // "Enable Shake Alert"
    bool videoDate = false;                                            // "Enable Video Date"
    int64_t sensitivity = 2;                                           // "Sensitive"
    int32_t videoQuality = 60;                                         // "Video Quality"
    // "Video Resolution"
    std::optional<std::string> videoResolution = std::string("AVCaptureSessionPreset1280x720");
    int64_t videoFps = 0;                         // "Video FPS"
    bool enableSound = true;                      // "Enable Sound"
    bool serverOnly = false;                      // "Server Only"
    bool enableGuarding = false;                  // "Enable Guarding"
    std::optional<std::string> registerName;      // "Register Name"
    std::optional<std::string> registerPassword;  // "Register Password"
    bool hideCoverHelp = false;                   // "Discover Screen Help"
    bool hideTouchFocusHelp = false;              // not archived
    uint64_t pictureNumber = 0;                   // "Picture Number"
};

}  // namespace vistamo
