#include "settings/ClipSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempHome.h"

namespace vistamo {
namespace {

TEST(ClipSettingsText, ReadsWhatItWritesAndRefusesWhatItCannotTake) {
    const ClipSettings changed{.recordClip = true, .secondsAfter = 3600, .secondsBefore = 0};
    EXPECT_EQ(parseClipSettings(clipSettingsText(changed)), changed);
    EXPECT_EQ(parseClipSettings(clipSettingsText(ClipSettings{})), ClipSettings{});

    // Spacing, comments, CRLF, keys of a later version and repeated keys.
    const auto tolerant = parseClipSettings(
        "# clips\r\n\r\n  record-clip=yes \r\nfuture-key = anything\nseconds-after = 5\n"
        "seconds-after=7");
    ASSERT_TRUE(tolerant);
    EXPECT_TRUE(tolerant->recordClip);
    EXPECT_EQ(tolerant->secondsAfter, 7);
    EXPECT_EQ(tolerant->secondsBefore, 5);

    for (const char* text : {"record-clip = 1", "seconds-after = 0", "seconds-after = 3601",
                             "seconds-before = -1", "seconds-before = 61", "seconds-before = 5s",
                             "seconds-after = ", "seconds-after = 99999999999", "record-clip",
                             "seconds-after = \xff"}) {
        std::string fault;
        EXPECT_FALSE(parseClipSettings(text, &fault)) << text;
        EXPECT_FALSE(fault.empty()) << text;
    }
}

class ClipSettingsFile : public test::TempHomeTest {};

TEST_F(ClipSettingsFile, KeptBesideTheOtherSettingsForTheOwnerOnly) {
    EXPECT_EQ(loadClipSettings(), ClipSettings{});  // nothing saved yet

    const ClipSettings saved{.recordClip = true, .secondsAfter = 45, .secondsBefore = 10};
    ASSERT_TRUE(saveClipSettings(saved));
    const auto path = home_ / ".config" / "vistamo+" / "clips.conf";
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(loadClipSettings(), saved);
    EXPECT_FALSE(std::filesystem::exists(home_ / ".config" / "vistamo+" / ".config"));

    writeText(path, "seconds-after = forever\n");
    EXPECT_EQ(loadClipSettings(), ClipSettings{});
}

}  // namespace
}  // namespace vistamo
