#include "settings/PasswordStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iterator>

#include "platform/AtomicFile.h"
#include "settings/ByteFields.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

const std::string kUuid = "0123456789abcdef0123456789ABCDEF";

class PasswordStoreTest : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        folder_ = home_ / ".config/vistamo+";
        fs::create_directories(folder_);
    }

    Bytes fileBytes() const {
        return readWholeFile(folder_ / "server", PasswordStore::kMaxFileBytes).value_or(Bytes{});
    }
    void writeFile(const Bytes& bytes) const { writeText(folder_ / "server", textOf(bytes)); }
    fs::perms filePermissions() const {
        return fs::status(folder_ / "server").permissions() & fs::perms::all;
    }

    fs::path folder_;
};

// Builds settings bytes by hand: a count, then strings, then any raw tail.
Bytes storeBytes(int64_t count, std::initializer_list<std::string> strings, Bytes tail = {}) {
    Bytes data;
    appendInt(data, count);
    for (const auto& text : strings) {
        appendString(data, text);
    }
    data.insert(data.end(), tail.begin(), tail.end());
    return data;
}

TEST_F(PasswordStoreTest, WritesTheFileLayoutAndReadsItBack) {
    PasswordStore config;
    EXPECT_TRUE(config.pairs().empty());
    EXPECT_EQ(config.getData(), (Bytes{0, 0, 0, 0}));
    EXPECT_FALSE(config.getPassword(kUuid));

    config.appendUUID(kUuid, "pass");
    Bytes expected{0, 0, 0, 1, 0, 0, 0, 0x20};
    expected.insert(expected.end(), kUuid.begin(), kUuid.end());
    expected.insert(expected.end(), {0, 0, 0, 4, 'p', 'a', 's', 's'});
    ASSERT_EQ(expected.size(), 48u);
    EXPECT_EQ(config.getData(), expected);
    EXPECT_EQ(fileBytes(), expected);
    EXPECT_EQ(filePermissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entryCount(folder_), 1u) << "no temporary file stays behind";

    // Append replaces or adds, and the next store reads it back.
    {
        PasswordStore store;
        store.appendUUID(kUuid, "a much longer password");
        store.appendUUID("second", "two");
        store.appendUUID(kUuid, "short");
        EXPECT_EQ(store.pairs(), (Pairs{{kUuid, "short"}, {"second", "two"}}));
        EXPECT_EQ(fileBytes(), store.getData());
    }
    PasswordStore reloaded;
    EXPECT_EQ(reloaded.pairs(), (Pairs{{kUuid, "short"}, {"second", "two"}}));
    EXPECT_EQ(reloaded.getPassword("second"), "two");
    EXPECT_FALSE(reloaded.getPassword("unknown"));
    EXPECT_EQ(entryCount(folder_), 1u);
}

TEST_F(PasswordStoreTest, ASaveWithoutTheFolderIsLostAndReadingFollowsTheCountButNotPastTheData) {
    fs::remove(folder_);
    PasswordStore config;
    config.appendUUID(kUuid, "pass");
    EXPECT_EQ(config.getPassword(kUuid), "pass");
    EXPECT_FALSE(fs::exists(folder_));

    const auto read = [](const Bytes& data) {
        PasswordStore store;
        store.getConfig(data);
        return store.pairs();
    };
    // Shorter than 21 bytes: ignored as a whole, even when it holds a valid pair.
    const Bytes twenty = storeBytes(1, {"0123", "abcd"});
    ASSERT_EQ(twenty.size(), 20u);
    EXPECT_TRUE(read(twenty).empty());

    // A count below 1 still reads one pair; reading stops at the count.
    EXPECT_EQ(read(storeBytes(0, {"uuid-1", "pw-1", "uuid-2", "pw-2"})),
              (Pairs{{"uuid-1", "pw-1"}}));
    EXPECT_EQ(read(storeBytes(-7, {"uuid-1", "pw-1", "uuid-2", "pw-2"})),
              (Pairs{{"uuid-1", "pw-1"}}));
    EXPECT_EQ(read(storeBytes(1, {"uuid-1", "pw-1"}, Bytes(50, 0xFF))),
              (Pairs{{"uuid-1", "pw-1"}}));

    // Faults keep the complete pairs read before them, never half a pair.
    const Pairs first{{"uuid-1", "pw-1"}};
    EXPECT_EQ(read(storeBytes(0x7FFFFFFF, {"uuid-1", "pw-1", "uuid-2", "pw-2"})),
              (Pairs{{"uuid-1", "pw-1"}, {"uuid-2", "pw-2"}}));
    EXPECT_EQ(read(storeBytes(2, {"uuid-1", "pw-1", "uuid-2"}, {0, 0, 0, 2, 0xC3, 0x28})), first);
    EXPECT_EQ(read(storeBytes(2, {"uuid-1", "pw-1", "uuid-2"}, {0, 0, 0, 9, 'a'})), first);
    EXPECT_EQ(read(storeBytes(2, {"uuid-1", "pw-1", "uuid-2"}, {0xFF, 0xFF, 0xFF, 0xFE})), first);
    EXPECT_EQ(read(storeBytes(2, {"uuid-1", "pw-1"}, {0x80, 0, 0, 0, 'a', 'b'})), first);
    EXPECT_TRUE(read(storeBytes(1, {"uuid-1"}, Bytes(12, 0xFF))).empty());
}

TEST_F(PasswordStoreTest, RepeatedUuidsAreAllUpdatedAndOddFilesIgnored) {
    writeFile(storeBytes(3, {"same", "old-1", "other", "x", "same", "old-2"}));
    PasswordStore config;
    EXPECT_EQ(config.getPassword("same"), "old-1");
    config.appendUUID("same", "new");
    EXPECT_EQ(config.pairs(), (Pairs{{"same", "new"}, {"other", "x"}, {"same", "new"}}));

    // Oversized or odd files are ignored.
    Bytes big = storeBytes(1, {kUuid, "pass"});
    big.resize(PasswordStore::kMaxFileBytes + 1);
    writeFile(big);
    EXPECT_FALSE(PasswordStore().load());
    EXPECT_TRUE(PasswordStore().pairs().empty());

    fs::remove(folder_ / "server");
    fs::create_directory(folder_ / "server");
    EXPECT_FALSE(PasswordStore().load());
}

}  // namespace
}  // namespace vistamo
