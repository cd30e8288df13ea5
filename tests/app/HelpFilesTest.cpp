// The help window and the copy of a page into the temporary folder.
#include <gtest/gtest.h>

#include <QTest>
#include <QTextBrowser>
#include <filesystem>

#include "app/HelpFiles.h"
#include "app/HelpWindow.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

// Each test gets a temporary directory of its own through TMPDIR.
class HelpFilesTest : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        tmp_ = home_ / "tmp";
        fs::create_directories(tmp_);
        setVariable("TMPDIR", tmp_.string());
    }

    fs::path tmp_;
};

TEST_F(HelpFilesTest, RefusesWhatIsNotALocalFileUrl) {
    for (const char* url : {"https://example.com/help.html", "help.html", "/abs/help.html",
                            "file:help.html", "file://server/help.html", "file:///a%2",
                            "file:///a%00b", "mailto:someone@example.com"}) {
        Error error;
        EXPECT_FALSE(helpFileUrl(url, &error)) << url;
        EXPECT_EQ(error.domain, "BuggyWKWebViewDomain") << url;
        EXPECT_EQ(error.code, 1001) << url;
        EXPECT_EQ(error.description, "URL must be a file URL.") << url;
    }
    EXPECT_FALSE(fs::exists(tmp_ / "www")) << "nothing is made for a refused URL";
}

TEST_F(HelpFilesTest, CopiesIntoWwwReplacingWhatWasThere) {
    const fs::path source = home_ / "pages" / "my help.html";
    writeText(source, "<p>new</p>");
    // An older copy of the same name, even a folder, is replaced.
    fs::create_directories(tmp_ / "www" / "my help.html" / "stale");

    Error error;
    const auto url = helpFileUrl("FILE://localhost" + fileUrlFromPath(source).substr(7), &error);
    ASSERT_TRUE(url) << error.description << " " << error.reason;
    EXPECT_EQ(*url, "file://" + tmp_.string() + "/www/my%20help.html");
    const auto copy = pathFromFileUrl(*url);
    ASSERT_TRUE(copy);
    EXPECT_EQ(readText(*copy), "<p>new</p>");
    EXPECT_EQ(readText(source), "<p>new</p>");

    // Asking again for the copy itself keeps it.
    const auto again = helpFileUrl(*url, &error);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *url);
    EXPECT_EQ(readText(*copy), "<p>new</p>");
}

TEST_F(HelpFilesTest, ReportsTheStepThatFailed) {
    Error error;
    EXPECT_FALSE(helpFileUrl(fileUrlFromPath(home_ / "missing.html"), &error));
    EXPECT_EQ(error.domain, kPosixErrorDomain);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.reason.find("copy"), std::string::npos) << error.reason;

    // A folder that holds the temporary directory cannot be copied into it.
    EXPECT_FALSE(helpFileUrl(fileUrlFromPath(home_), &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(fs::exists(tmp_ / "www" / home_.filename()));
    // Nor can a URL that names no file.
    EXPECT_FALSE(helpFileUrl("file:///", &error));
    EXPECT_EQ(error.code, EINVAL);

    // "www" cannot be made where a file stands in its way.
    const fs::path page = home_ / "help.html";
    writeText(page, "x");
    fs::remove_all(tmp_ / "www");
    writeText(tmp_ / "www", "in the way");
    EXPECT_FALSE(helpFileUrl(fileUrlFromPath(page), &error));
    EXPECT_EQ(error.domain, kPosixErrorDomain);
    EXPECT_NE(error.reason.find("www"), std::string::npos) << error.reason;
}

TEST_F(HelpFilesTest, HelpWindowShowsAPageAndStaysUsableWithout) {
    HelpWindow help;
    EXPECT_EQ(fs::exists(HelpWindow::helpPagePath()), !help.web()->toPlainText().isEmpty())
        << "the window opens on our help page";
    const fs::path page = home_ / "help.html";
    writeText(page, "<h1>Finding cameras</h1><p><a href=\"https://example.com/\">site</a></p>");
    ASSERT_TRUE(help.loadPage(page.string()));
    EXPECT_TRUE(help.web()->toPlainText().contains("Finding cameras"));

    EXPECT_FALSE(help.loadPage((home_ / "missing.html").string()));
    EXPECT_TRUE(help.web()->toPlainText().isEmpty());
    help.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
    EXPECT_EQ(help.windowTitle(), "Help");
}

}  // namespace
}  // namespace vistamo
