#include "settings/KeyedArchive.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

Bytes sampleArchive() {
    KeyedArchiver archiver;
    archiver.encodeBool(true, "WAN");
    archiver.encodeInteger(-2, "Port");
    archiver.encodeObject("caf\xC3\xA9", "Name");
    archiver.encodeObject(std::nullopt, "UUID");
    return archiver.archivedData();
}

TEST(KeyedArchiveTest, LayoutAndRoundTrip) {
    KeyedArchiver archiver;
    archiver.encodeBool(true, "b");
    archiver.encodeInteger(1, "i");
    archiver.encodeObject("t", "s");
    archiver.encodeObject(std::nullopt, "n");
    archiver.encodeInteger(2, "i");  // replaces the value, keeps the position
    const Bytes expected{'V', 'K', 'A', '1', 0,   0, 0, 4,                      //
                         0,   0,   0,   1,   'b', 1, 1,                         //
                         0,   0,   0,   1,   'i', 2, 0, 0, 0, 0, 0,   0, 0, 2,  //
                         0,   0,   0,   1,   's', 3, 0, 0, 0, 1, 't',           //
                         0,   0,   0,   1,   'n', 0};
    EXPECT_EQ(archiver.archivedData(), expected);
    EXPECT_EQ(KeyedArchiver().archivedData(), (Bytes{'V', 'K', 'A', '1', 0, 0, 0, 0}));

    // What was encoded decodes; the rest reads as missing.
    const auto archive = KeyedUnarchiver::unarchive(sampleArchive());
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->decodeBool("WAN"));
    EXPECT_EQ(archive->decodeInteger("Port"), -2);
    EXPECT_EQ(archive->decodeObject("Name"), "caf\xC3\xA9");
    EXPECT_TRUE(archive->containsValueForKey("UUID"));
    EXPECT_FALSE(archive->decodeObject("UUID"));

    EXPECT_FALSE(archive->containsValueForKey("Missing"));
    EXPECT_FALSE(archive->decodeBool("Missing"));
    EXPECT_EQ(archive->decodeInteger("Missing"), 0);
    EXPECT_FALSE(archive->decodeObject("Missing"));
    // A value of another type reads like a missing one.
    EXPECT_EQ(archive->decodeInteger("WAN"), 0);
    EXPECT_FALSE(archive->decodeBool("Name"));
    EXPECT_FALSE(archive->decodeObject("Port"));
}

TEST(KeyedArchiveTest, MalformedArchivesAreRefused) {
    const Bytes good = sampleArchive();
    ASSERT_TRUE(KeyedUnarchiver::unarchive(good));
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(KeyedUnarchiver::unarchive(ByteView(good).first(length))) << length;
    }

    const Bytes header{'V', 'K', 'A', '1'};
    const auto with = [&](Bytes tail) {
        Bytes data = header;
        data.insert(data.end(), tail.begin(), tail.end());
        return data;
    };
    struct Case {
        const char* what;
        Bytes data;
    };
    const Case cases[] = {
        {"wrong magic", {'V', 'K', 'A', '2', 0, 0, 0, 0}},
        {"negative count", with({0xFF, 0xFF, 0xFF, 0xFF})},
        {"count beyond the entries", with({0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 'n', 0})},
        {"unknown tag", with({0, 0, 0, 1, 0, 0, 0, 1, 'n', 4})},
        {"boolean byte 2", with({0, 0, 0, 1, 0, 0, 0, 1, 'b', 1, 2})},
        {"key not UTF-8", with({0, 0, 0, 1, 0, 0, 0, 1, 0xFF, 0})},
        {"text not UTF-8", with({0, 0, 0, 1, 0, 0, 0, 1, 's', 3, 0, 0, 0, 1, 0xC3})},
        {"text length negative", with({0, 0, 0, 1, 0, 0, 0, 1, 's', 3, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"repeated key", with({0, 0, 0, 2, 0, 0, 0, 1, 'n', 0, 0, 0, 0, 1, 'n', 1, 1})},
        {"trailing byte", with({0, 0, 0, 1, 0, 0, 0, 1, 'n', 0, 0})},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(KeyedUnarchiver::unarchive(c.data, &error)) << c.what;
        EXPECT_EQ(error.domain, kArchiveErrorDomain) << c.what;
        EXPECT_EQ(error.code, 4864) << c.what;
        EXPECT_FALSE(error.description.empty()) << c.what;
    }
}

}  // namespace
}  // namespace vistamo
