#include "discovery/ZDeviceInfo.h"

#include <gtest/gtest.h>

#include "settings/KeyedArchive.h"

namespace vistamo {
namespace {

std::shared_ptr<ZDeviceInfo> decode(const Bytes& bytes) {
    const auto archive = KeyedUnarchiver::unarchive(bytes);
    EXPECT_TRUE(archive);
    return archive ? ZDeviceInfo::initWithCoder(*archive) : nullptr;
}

TEST(ZDeviceInfoTest, ArchiveRestoresTheArchivedPropertiesOnlyAndMissingOnesAsNone) {
    ZDeviceInfo record;
    record.setMDeviceName("Kitchen");
    record.setMDeviceIP("fe80::1%en0");
    record.setMPort(9000);
    record.setMPassword("s\xC3\xA9same");
    record.setMUUID("0123456789abcdef0123456789abcdef");
    record.setMDeviceType(-4);
    record.setMbWAN(true);
    record.setMReserved(5);
    record.setMShowTimes(2);
    record.setBOccupied(true);
    KeyedArchiver archiver;
    record.encodeWithCoder(archiver);

    const auto decoded = decode(archiver.archivedData());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->mDeviceName(), "Kitchen");
    EXPECT_EQ(decoded->mDeviceIP(), "fe80::1%en0");
    EXPECT_EQ(decoded->mPort(), 9000);
    EXPECT_EQ(decoded->mPassword(), "s\xC3\xA9same");
    EXPECT_EQ(decoded->mUUID(), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(decoded->mDeviceType(), -4);
    EXPECT_TRUE(decoded->mbWAN());
    // Not archived, and the decoder applies no initial values.
    EXPECT_EQ(decoded->mReserved(), 0);
    EXPECT_EQ(decoded->mShowTimes(), 0);
    EXPECT_FALSE(decoded->bOccupied());

    // Missing keys decode as zero and none.
    KeyedArchiver ipOnly;
    ipOnly.encodeObject("10.0.0.7", "IP");
    const auto partial = decode(ipOnly.archivedData());
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->mDeviceIP(), "10.0.0.7");
    EXPECT_EQ(partial->mPort(), 0);
    EXPECT_FALSE(partial->mDeviceName());

    // A record added by address archives its missing UUID and password as none.
    KeyedArchiver byAddress;
    ZDeviceInfo().encodeWithCoder(byAddress);
    const auto restored = decode(byAddress.archivedData());
    ASSERT_TRUE(restored);
    EXPECT_FALSE(restored->mUUID() || restored->mPassword());
    EXPECT_EQ(restored->mPort(), 7341);
}

}  // namespace
}  // namespace vistamo
