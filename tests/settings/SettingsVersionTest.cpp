#include "settings/SettingsVersion.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

TEST(SettingsVersionTest, RoundTripKeepsEveryArchivedField) {
    SettingsVersion record;
    record.mbVideoDate = true;
    record.mbShakeAlert = false;
    record.password = "secret";
    record.mServiceName = "Kitchen";
    record.port = 9000;
    record.miQuality = -5;
    record.mPictureNumber = 0xffff'ffff'ffff'fff0u;
    record.mRegisterName = "me";
    record.mbNotShowCoverHelp = true;
    record.mbNotShowTouchFocusHelp = true;

    const auto read = SettingsVersion::fromArchivedData(record.archivedData());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->mPictureNumber, record.mPictureNumber);
    EXPECT_FALSE(read->mRegisterPassword.has_value());
    EXPECT_FALSE(read->mbNotShowTouchFocusHelp) << "not archived";
    // Archiving the decoded record gives the same bytes.
    EXPECT_EQ(read->archivedData(), record.archivedData());
}

TEST(SettingsVersionTest, DecodingAppliesNoDefaultsAndTakesTheRunningVersion) {
    KeyedArchiver coder;
    coder.encodeObject("V. 0.0.1 (build1)", "Version");
    coder.encodeBool(true, "Enable Video Date");
    coder.encodeInteger(int64_t{1} << 40, "Video Quality");
    const auto read = SettingsVersion::fromArchivedData(coder.archivedData());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->port, 0) << "a missing Port reads 0, not the default";
    EXPECT_FALSE(read->mbEnableBLE);
    EXPECT_FALSE(read->mResolution.has_value());
    EXPECT_FALSE(read->mServiceName.has_value());
    EXPECT_TRUE(read->mbVideoDate);
    EXPECT_EQ(read->miQuality, 0) << "a quality outside 32 bits is not truncated";
    EXPECT_EQ(read->mVersion, configurationVersionText());
    EXPECT_TRUE(read->mVersion->starts_with("V. ") && read->mVersion->ends_with(")"));

    EXPECT_FALSE(SettingsVersion::fromArchivedData(bytesOf("not an archive")).has_value());
}

}  // namespace
}  // namespace vistamo
