#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "settings/KeyedArchive.h"

namespace vistamo {

// The version text a camera settings record carries: "V. <version> (build<build>)".
std::string configurationVersionText();

// The settings record of a camera server: transport switches, the name and port it announces,
// alarm switches and video quality, with a keyed-archive form. A plain value; copy freely.
struct SettingsVersion {
    // A record with the defaults below.
    SettingsVersion() = default;

    // Writes every archived field under its key, in declaration order (booleans as booleans,
    // integers as integers, texts as objects; a missing text as none).
    void encode(KeyedArchiver& coder) const;

    // Reads every archived field from its key: a missing boolean reads false, a missing
    // integer 0, a missing text none; the defaults are not applied. mVersion then becomes the
    // running program's version text, and mbNotShowTouchFocusHelp (not archived) is false.
    static SettingsVersion decode(const KeyedUnarchiver& coder);

    // The record as an archive's bytes, and back (none for bytes that are not an archive).
    Bytes archivedData() const;
    static std::optional<SettingsVersion> fromArchivedData(ByteView data);

    // The fields, each with its archive key.
    bool mbEnableBLE = true;                                           // "Use Bluetooth"
    bool mbBluetoothAdvertisement = true;                              // "Bluetooth Advertisement"
    bool mbEnableWIFI = true;                                          // "Enable WIFI"
    bool mbWIFIBroadcast = true;                                       // "Enable WIFI Broadcast"
    std::optional<std::string> mVersion = configurationVersionText();  // "Version"
    std::optional<std::string> mServiceName = std::string();           // "Service Name"
    int64_t port = 7341;                                               // "Port"
    std::optional<std::string> password;                               // "Password"
    bool mbHideInterface = false;                                      // "Hide interface"
    bool mbSoundAlert = false;                                         // "Enable Sound Alert"
    bool mbFlashAlert = true;                                          // "Enable Flash Alert"
    bool mbShakeAlert = true;                                          // "Enable Shake Alert"
    bool mbVideoDate = false;                                          // "Enable Video Date"
    int64_t miSensitive = 2;                                           // "Sensitive"
    int32_t miQuality = 60;                                            // "Video Quality"
    // "Video Resolution"
    std::optional<std::string> mResolution = std::string("AVCaptureSessionPreset1280x720");
    int64_t mFPS = 0;                              // "Video FPS"
    bool mbEnableSound = true;                     // "Enable Sound"
    bool mbServerOnly = false;                     // "Server Only"
    bool mbEnableGuarding = false;                 // "Enable Guarding"
    std::optional<std::string> mRegisterName;      // "Register Name"
    std::optional<std::string> mRegisterPassword;  // "Register Password"
    bool mbNotShowCoverHelp = false;               // "Discover Screen Help"
    bool mbNotShowTouchFocusHelp = false;          // not archived
    uint64_t mPictureNumber = 0;                   // "Picture Number"
};

}  // namespace vistamo
