#include "settings/WindowPlaces.h"

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

TEST(WindowPlacesTest, ReadsWellFormedLinesSkipsTheRestAndWritesWhatItRead) {
    const auto places = WindowPlaces::parse(
        "uuid:0A1B 10 -20 960 600\n"
        "address:192.0.2.7 0 0 640 480\r\n"       // a CR makes the last number malformed
        "uuid:0A1B 30 40 800 500\n"               // replaces the first line
        "uuid:with blank 1 2 3 4\n"               // one word too many
        "address:192.0.2.8 1 2 0 480\n"           // no width
        "address:192.0.2.9 1 2 3\n"               // a number missing
        "address:192.0.2.10 99999999999 0 1 1\n"  // out of range
        "address:192.0.2.11 +1 0 1 1\n"
        "\n"
        "address:192.0.2.12  5  6 7 8");
    ASSERT_EQ(places.entries().size(), 2u);
    EXPECT_EQ(places.frameFor("uuid:0A1B"), (WindowFrame{30, 40, 800, 500}));
    EXPECT_EQ(places.frameFor("address:192.0.2.12"), (WindowFrame{5, 6, 7, 8}));
    EXPECT_FALSE(places.frameFor("address:192.0.2.7"));
    EXPECT_EQ(places.text(), "uuid:0A1B 30 40 800 500\naddress:192.0.2.12 5 6 7 8\n");
    EXPECT_EQ(WindowPlaces::parse(places.text()).entries(), places.entries());
}

TEST(WindowPlacesTest, IdentityPrefersTheUuidAndRefusesWhatTheFileCannotHold) {
    EXPECT_EQ(WindowPlaces::identityFor("0A1B", "192.0.2.7"), "uuid:0A1B");
    EXPECT_EQ(WindowPlaces::identityFor(std::nullopt, "192.0.2.7"), "address:192.0.2.7");
    EXPECT_EQ(WindowPlaces::identityFor("", "192.0.2.7"), "address:192.0.2.7");
    EXPECT_FALSE(WindowPlaces::identityFor(std::nullopt, std::nullopt));
    EXPECT_FALSE(WindowPlaces::identityFor("a uuid\nwith 1 2 3 4", std::nullopt));
    EXPECT_FALSE(WindowPlaces::identityFor(std::string(200, 'A'), std::nullopt));
}

class WindowPlacesFileTest : public test::TempHomeTest {};

TEST_F(WindowPlacesFileTest, SavedAtomicallyForItsOwnerBesideAnUntouchedOptionFile) {
    const fs::path folder = home_ / ".config/vistamo+";
    EXPECT_TRUE(WindowPlaces::load().entries().empty());  // no folder yet

    WindowPlaces places;
    places.setFrame("uuid:0A1B", {10, 20, 960, 600});
    ASSERT_TRUE(places.save());  // makes the folder
    writeText(folder / ".config", "options");
    places.setFrame("address:192.0.2.7", {-5, 0, 640, 480});
    ASSERT_TRUE(places.save());

    EXPECT_EQ(WindowPlaces::load().entries(), places.entries());
    EXPECT_EQ(fs::status(folder / "windows").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readText(folder / ".config"), "options");
    EXPECT_EQ(entryCount(folder), 2u);  // no temporary file left
}

}  // namespace
}  // namespace vistamo
