#include "settings/ByteFields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vistamo {
namespace {

TEST(ByteFieldsTest, WritersProduceBigEndianFieldsThatReadersReadBack) {
    constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kLongMin = std::numeric_limits<int64_t>::min();
    Bytes data;
    appendInt(data, kIntMin);
    appendInt(data, -1);
    appendLong(data, kLongMin);
    appendLong(data, 0x0102030405060708);
    appendBool(data, true);
    appendBool(data, false);
    appendString(data, "abc");
    appendString(data, "");
    appendString(data, "\xC3\xA9");  // one character, two bytes
    EXPECT_EQ(data, (Bytes{0x80, 0,   0,   0, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0,    0,   0, 0,
                           0,    1,   2,   3, 4,    5,    6,    7,    8,    1, 0, 0,    0,   0, 3,
                           'a',  'b', 'c', 0, 0,    0,    0,    0,    0,    0, 2, 0xC3, 0xA9}));

    // Readers return what writers wrote.
    EXPECT_EQ(getInt(data, 0), kIntMin);
    EXPECT_EQ(getInt(data, 4), -1);
    EXPECT_EQ(getLong(data, 8), kLongMin);
    EXPECT_EQ(getLong(data, 16), 0x0102030405060708);
    EXPECT_EQ(getBool(data, 24), true);
    EXPECT_EQ(getBool(data, 25), false);
    EXPECT_EQ(getBool(Bytes{2}, 0), true);
    size_t at = 26;
    for (const std::string text : {"abc", "", "\xC3\xA9"}) {
        const auto read = getString(data, at);
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(read->text, text);
        EXPECT_EQ(read->consumed, 4 + text.size());
        at += read->consumed;
    }
    EXPECT_EQ(at, data.size());
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
        EXPECT_EQ(error.domain, kByteFieldErrorDomain) << c.what;
        EXPECT_EQ(error.code, -3001) << c.what;
    }
    EXPECT_FALSE(getString(Bytes{0, 0, 0, 1}));  // no error out-parameter
}

}  // namespace
}  // namespace vistamo
