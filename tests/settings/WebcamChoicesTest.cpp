#include "settings/WebcamChoices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/TempHome.h"

namespace vistamo {
namespace {

TEST(WebcamChoicesText, ReadsWhatItWritesAndRefusesWhatItCannotTake) {
    const WebcamChoices two{{"uuid:5A3C0E17B2D94F6880A1C4E7D2B93F05", "address:192.0.2.7"}};
    EXPECT_EQ(parseWebcamChoices(webcamChoicesText(two)), two);
    EXPECT_EQ(parseWebcamChoices(""), WebcamChoices{});
    // Spacing, comments, CRLF, keys of a later version and an identity given twice.
    const auto tolerant =
        parseWebcamChoices("# webcams\r\n\r\n  webcam=uuid:A \r\nlater = x y\nwebcam = uuid:A\n");
    ASSERT_TRUE(tolerant);
    EXPECT_EQ(tolerant->cameras, (std::set<std::string>{"uuid:A"}));
    EXPECT_TRUE(tolerant->contains("uuid:A"));
    EXPECT_FALSE(tolerant->contains("uuid:B"));

    std::string tooMany;
    for (size_t index = 0; index <= WebcamChoices::kMaxCameras; ++index) {
        tooMany += "webcam = address:" + std::to_string(index) + "\n";
    }
    for (const std::string& text : std::vector<std::string>{
             "webcam", "webcam = ", "webcam = two words", "webcam = " + std::string(129, 'a'),
             "webcam = \x01", std::string("webcam = \xff"), tooMany}) {
        std::string fault;
        EXPECT_FALSE(parseWebcamChoices(text, &fault)) << text.substr(0, 40);
        EXPECT_FALSE(fault.empty());
    }
}

class WebcamChoicesFile : public test::TempHomeTest {};

TEST_F(WebcamChoicesFile, KeptBesideTheOtherSettingsForTheOwnerOnly) {
    EXPECT_EQ(loadWebcamChoices(), WebcamChoices{});  // nothing saved yet
    const WebcamChoices saved{{"uuid:5A3C0E17B2D94F6880A1C4E7D2B93F05"}};
    ASSERT_TRUE(saveWebcamChoices(saved));
    const auto path = home_ / ".config" / "vistamo+" / "webcams.conf";
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(loadWebcamChoices(), saved);
    writeText(path, "webcam = two words\n");
    EXPECT_EQ(loadWebcamChoices(), WebcamChoices{});
}

}  // namespace
}  // namespace vistamo
