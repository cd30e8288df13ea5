#include "discovery/CameraRecord.h"

#include <gtest/gtest.h>

#include "settings/KeyedArchive.h"

namespace vistamo {
namespace {

std::shared_ptr<CameraRecord> decode(const Bytes& bytes) {
    const auto archive = KeyedUnarchiver::unarchive(bytes);
    EXPECT_TRUE(archive);
    return archive ? CameraRecord::decode(*archive) : nullptr;
}

TEST(CameraRecordTest, ArchiveRestoresTheArchivedPropertiesOnlyAndMissingOnesAsNone) {
    CameraRecord record;
    record.setName("Kitchen");
    record.setAddress("fe80::1%en0");
    record.setPort(9000);
    record.setPassword("s\xC3\xA9same");
    record.setUuid("0123456789abcdef0123456789abcdef");
    record.setType(-4);
    record.setWideArea(true);
    record.setTicksLeft(2);
    record.setBOccupied(true);
    KeyedArchiver archiver;
    record.encode(archiver);

    const auto decoded = decode(archiver.archivedData());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name(), "Kitchen");
    EXPECT_EQ(decoded->address(), "fe80::1%en0");
    EXPECT_EQ(decoded->port(), 9000);
    EXPECT_EQ(decoded->password(), "s\xC3\xA9same");
    EXPECT_EQ(decoded->uuid(), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(decoded->type(), -4);
    EXPECT_TRUE(decoded->wideArea());
    // Not archived, and the decoder applies no initial values.
    EXPECT_EQ(decoded->ticksLeft(), 0);
    EXPECT_FALSE(decoded->bOccupied());

    // Missing keys decode as zero and none.
    KeyedArchiver ipOnly;
    ipOnly.encodeObject("10.0.0.7", "IP");
    const auto partial = decode(ipOnly.archivedData());
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->address(), "10.0.0.7");
    EXPECT_EQ(partial->port(), 0);
    EXPECT_FALSE(partial->name());

    // A record added by address archives its missing UUID and password as none.
    KeyedArchiver byAddress;
    CameraRecord().encode(byAddress);
    const auto restored = decode(byAddress.archivedData());
    ASSERT_TRUE(restored);
    EXPECT_FALSE(restored->uuid() || restored->password());
    EXPECT_EQ(restored->port(), 7341);
}

}  // namespace
}  // namespace vistamo
