#include "settings/CameraSettingsRecord.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

TEST(CameraSettingsRecordTest, RoundTripKeepsEveryArchivedField) {
    CameraSettingsRecord record;
    record.videoDate = true;
    record.shakeAlert = false;
    record.password = "secret";
    record.serviceName = "Kitchen";
    record.port = 9000;
    record.videoQuality = -5;
    record.pictureNumber = 0xffff'ffff'ffff'fff0u;
    record.registerName = "me";
    record.hideCoverHelp = true;
    record.hideTouchFocusHelp = true;

    const auto read = CameraSettingsRecord::fromArchivedData(record.archivedData());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->pictureNumber, record.pictureNumber);
    EXPECT_FALSE(read->registerPassword.has_value());
    EXPECT_FALSE(read->hideTouchFocusHelp) << "not archived";
    // Archiving the decoded record gives the same bytes.
    EXPECT_EQ(read->archivedData(), record.archivedData());
}

TEST(CameraSettingsRecordTest, DecodingAppliesNoDefaultsAndTakesTheRunningVersion) {
    KeyedArchiver coder;
    coder.encodeObject("V. 0.0.1 (build1)", "Version");
    coder.encodeBool(true, "Enable Video Date");
    coder.encodeInteger(int64_t{1} << 40, "Video Quality");
    const auto read = CameraSettingsRecord::fromArchivedData(coder.archivedData());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->port, 0) << "a missing Port reads 0, not the default";
    EXPECT_FALSE(read->useBluetooth);
    EXPECT_FALSE(read->videoResolution.has_value());
    EXPECT_FALSE(read->serviceName.has_value());
    EXPECT_TRUE(read->videoDate);
    EXPECT_EQ(read->videoQuality, 0) << "a quality outside 32 bits is not truncated";
    EXPECT_EQ(read->version, cameraSettingsVersionText());
    EXPECT_TRUE(read->version->starts_with("V. ") && read->version->ends_with(")"));

    EXPECT_FALSE(CameraSettingsRecord::fromArchivedData(bytesOf("not an archive")).has_value());
}

}  // namespace
}  // namespace vistamo
