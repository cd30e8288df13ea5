#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

// The folder under test is the temporary home.
class AtomicFileTest : public test::TempHomeTest {
protected:
    static fs::perms permissions(const fs::path& path) {
        return fs::status(path).permissions() & fs::perms::all;
    }
};

TEST_F(AtomicFileTest, WritesExactlyTheBytesWithExactlyTheModeOrNothing) {
    const fs::path target = home_ / "server";
    const mode_t savedMask = ::umask(0077);  // would strip group and other bits from 0644
    EXPECT_TRUE(writeFileAtomically(target, bytesOf("first, longer content"), 0644));
    ::umask(savedMask);
    EXPECT_EQ(readText(target), "first, longer content");
    EXPECT_EQ(permissions(target), fs::perms(0644));

    Error error;
    EXPECT_TRUE(writeFileAtomically(target, bytesOf("second"), 0600, &error)) << error.reason;
    EXPECT_EQ(readText(target), "second");
    EXPECT_EQ(permissions(target), fs::perms(0600));

    EXPECT_TRUE(writeFileAtomically(target, ByteView{}, 0600));
    EXPECT_EQ(fs::file_size(target), 0u);
    EXPECT_EQ(entryCount(home_), 1u);  // no temporary file left

    // Failure leaves nothing behind.
    fs::remove(target);
    EXPECT_FALSE(writeFileAtomically(home_ / "missing/server", bytesOf("x"), 0600, &error));
    EXPECT_EQ(error.domain, kPosixErrorDomain);
    EXPECT_EQ(error.code, ENOENT);

    // The rename fails over a non-empty folder: the temporary file must be removed again.
    fs::create_directories(home_ / "server/inside");
    EXPECT_FALSE(writeFileAtomically(home_ / "server", bytesOf("x"), 0600, &error));
    EXPECT_NE(error.reason.find("rename"), std::string::npos);
    EXPECT_EQ(entryCount(home_), 1u);
    EXPECT_TRUE(fs::is_directory(home_ / "server/inside"));
}

TEST_F(AtomicFileTest, ReadWholeFileKeepsToItsLimit) {
    const fs::path file = home_ / "data";
    writeText(file, "0123456789");
    EXPECT_EQ(readWholeFile(file, 10), bytesOf("0123456789"));

    Error error;
    EXPECT_FALSE(readWholeFile(file, 9, &error));
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_FALSE(readWholeFile(home_ / "absent", 100, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(readWholeFile(home_, 100));
    ASSERT_EQ(::mkfifo((home_ / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readWholeFile(home_ / "fifo", 100));  // refused, not waited on

    writeText(home_ / "empty", "");
    EXPECT_EQ(readWholeFile(home_ / "empty", 0), Bytes{});

    // Kernel files report size 0 but have contents: read to the end, within the limit.
    const auto status = readWholeFile("/proc/self/status", 1 << 20);
    ASSERT_TRUE(status);
    EXPECT_NE(textOf(*status).find("Name:"), std::string::npos);
    EXPECT_FALSE(readWholeFile("/proc/self/status", 16));
}

}  // namespace
}  // namespace vistamo
