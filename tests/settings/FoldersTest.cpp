#include "settings/Folders.h"

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace vistamo {
namespace {

using test::TempHomeTest;
namespace fs = std::filesystem;

using FoldersTest = TempHomeTest;

TEST_F(FoldersTest, LibraryFolderFollowsTheEnvironmentAndGetsSubFolders) {
    EXPECT_EQ(libraryFolder(), home_ / ".config");

    setVariable("XDG_CONFIG_HOME", (home_ / "elsewhere").string());
    EXPECT_EQ(libraryFolder(), home_ / "elsewhere");

    setVariable("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
    EXPECT_EQ(libraryFolder(), home_ / ".config");

    setVariable("HOME", std::nullopt);
    EXPECT_FALSE(libraryFolder());
    EXPECT_FALSE(picturesFolder());
    EXPECT_EQ(isExisted("anything"), ExistedState::IT_IS_NONE);
    EXPECT_FALSE(createSubFolder("vistamo+", true));

    // The Library folder itself is missing: only the intermediate form can make it.
    setVariable("HOME", home_.string());
    EXPECT_FALSE(createSubFolder("vistamo+", false));
    EXPECT_FALSE(fs::exists(home_ / ".config"));
    EXPECT_TRUE(createSubFolder("vistamo+", true));
    EXPECT_TRUE(fs::is_directory(home_ / ".config/vistamo+"));

    // An existing folder is a failure either way.
    EXPECT_FALSE(createSubFolder("vistamo+", false));
    EXPECT_FALSE(createSubFolder("vistamo+/", true));

    EXPECT_FALSE(createSubFolder("a/b", false));
    EXPECT_TRUE(createSubFolder("/a/b/", true));  // relative to the Library folder all the same
    EXPECT_TRUE(fs::is_directory(home_ / ".config/a/b"));
    EXPECT_TRUE(createSubFolder("a/c", false));
}

TEST_F(FoldersTest, IsExistedAndPicturesFolder) {
    EXPECT_EQ(isExisted("vistamo+/server"), ExistedState::IT_IS_NONE);
    fs::create_directories(home_ / ".config/vistamo+");
    EXPECT_EQ(isExisted("vistamo+"), ExistedState::IT_IS_A_FOLDER);
    writeText(home_ / ".config/vistamo+/server", "x");
    EXPECT_EQ(isExisted("vistamo+/server"), ExistedState::IT_IS_A_FILE);
    EXPECT_EQ(isExisted("vistamo+/server/below"), ExistedState::IT_IS_NONE);
    fs::create_symlink(home_ / ".config/vistamo+", home_ / ".config/link");
    EXPECT_EQ(isExisted("link"), ExistedState::IT_IS_A_FOLDER);

    EXPECT_EQ(picturesFolder(), home_ / "Pictures");

    const fs::path userDirs = home_ / ".config/user-dirs.dirs";
    writeText(userDirs,
              "# written by the user-dirs tool\n"
              "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_PICTURES_DIR=\"$HOME/Bilder/\"\n");
    EXPECT_EQ(picturesFolder(), home_ / "Bilder");

    writeText(userDirs, "  XDG_PICTURES_DIR=\"/srv/photo \\\"album\\\"\"\n");
    EXPECT_EQ(picturesFolder(), fs::path("/srv/photo \"album\""));

    writeText(userDirs, "XDG_PICTURES_DIR=\"$HOME/\"");
    EXPECT_EQ(picturesFolder(), home_);

    // Malformed lines are skipped; the last valid line wins.
    writeText(userDirs,
              "XDG_PICTURES_DIR=\"$HOME/First\"\n"
              "XDG_PICTURES_DIR=\"$HOME/unterminated\n"
              "XDG_PICTURES_DIR=\"relative/path\"\n"
              "XDG_PICTURES_DIR=\"$HOMEWORK/x\"\n"
              "XDG_PICTURES_DIR=$HOME/unquoted\n"
              "XDG_PICTURES_DIR=\"$HOME/x\" trailing\n"
              "XDG_PICTURES_DIR=\"ends in a backslash\\");
    EXPECT_EQ(picturesFolder(), home_ / "First");

    setVariable("XDG_CONFIG_HOME", (home_ / "other").string());
    writeText(home_ / "other/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Other\"\n");
    EXPECT_EQ(picturesFolder(), home_ / "Other");
}

}  // namespace
}  // namespace vistamo
