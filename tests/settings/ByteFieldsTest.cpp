#include "settings/ByteFields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vistamo {
namespace {

TEST(ByteFieldsTest, WritersProduceBigEndianFieldsThatReadersReadBack) {
    Bytes data;
    appendInt(data, 1);
    appendInt(data, -1);
    appendLong(data, 1);
    appendBool(data, true);
    appendBool(data, false);
    EXPECT_EQ(data, (Bytes{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0}));

    Bytes text;
    appendString(text, "abc");
    appendString(text, "");
    appendString(text, "\xC3\xA9");  // one character, two bytes
    EXPECT_EQ(text, (Bytes{0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 2, 0xC3, 0xA9}));

    // Readers return what writers wrote.
    data.clear();
    appendInt(data, std::numeric_limits<int32_t>::min());
    appendInt(data, -1);
    appendLong(data, std::numeric_limits<int64_t>::min());
    appendLong(data, 0x0102030405060708);
    appendBool(data, true);
    appendString(data, "abc");
    appendString(data, "");

    EXPECT_EQ(getInt(data, 0), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(getInt(data, 4), -1);
    EXPECT_EQ(getLong(data, 8), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(getLong(data, 16), 0x0102030405060708);
    EXPECT_EQ(getBool(data, 24), true);

    const auto abc = getString(data, 25);
    ASSERT_TRUE(abc);
    EXPECT_EQ(abc->text, "abc");
    EXPECT_EQ(abc->consumed, 7u);
    const auto empty = getString(data, 25 + abc->consumed);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text, "");
    EXPECT_EQ(empty->consumed, 4u);

    const Bytes nonZero{2};
    EXPECT_EQ(getBool(nonZero, 0), true);
}

// The fuzz target sweeps all offsets; these are the overflow-prone ones.
TEST(ByteFieldsTest, ReadersNeverReadPastTheEndAndRefuseBadStrings) {
    const Bytes seven{1, 2, 3, 4, 5, 6, 7};
    const size_t huge = std::numeric_limits<size_t>::max();
    EXPECT_FALSE(getBool(seven, 7) || getBool(seven, huge) || getBool(ByteView{}, 0));
    EXPECT_FALSE(getInt(seven, 4) || getInt(seven, huge - 2));
    EXPECT_FALSE(getLong(seven, 0) || getLong(seven, huge - 4));
    EXPECT_TRUE(getInt(seven, 3));

    // Bad strings fail with the decode error.
    struct Case {
        const char* what;
        Bytes data;
        size_t location;
    };
    const Case cases[] = {
        {"count cut short", {0, 0, 0}, 0},
        {"location past the end", {0, 0, 0, 0}, 5},
        {"negative count", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}, 0},
        {"count past the end", {0, 0, 0, 5, 'a', 'b'}, 0},
        {"largest count", {0x7F, 0xFF, 0xFF, 0xFF, 'a'}, 0},
        {"not UTF-8", {0, 0, 0, 2, 0xC3, 0x28}, 0},
        {"surrogate", {0, 0, 0, 3, 0xED, 0xA0, 0x80}, 0},
        {"string at an offset cut short", {9, 0, 0, 0, 2, 'a'}, 1},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(getString(c.data, c.location, &error)) << c.what;
        EXPECT_EQ(error.domain, "NSURLErrorDomain") << c.what;
        EXPECT_EQ(error.code, -3001) << c.what;
    }
    EXPECT_FALSE(getString(Bytes{0, 0, 0, 1}));  // no error out-parameter
}

}  // namespace
}  // namespace vistamo
