// The command line and where the debug lines go.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/DebugLog.h"
#include "platform/Log.h"
#include "settings/OptionData.h"

namespace vistamo {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, HelpAndVersionWinWhereverTheyStandAndUnknownArgumentsAreNamed) {
    EXPECT_EQ(parseCommandLine({}).action, Action::Run);
    EXPECT_FALSE(parseCommandLine({}).verbose);
    const auto verbose = parseCommandLine({"--verbose"});
    EXPECT_EQ(verbose.action, Action::Run);
    EXPECT_TRUE(verbose.verbose);

    EXPECT_EQ(parseCommandLine({"--bogus", "-h"}).action, Action::Help);
    EXPECT_EQ(parseCommandLine({"--verbose", "--version", "--help"}).action, Action::Version);

    const auto unknown = parseCommandLine({"--verbose", "--verbos", "x"});
    EXPECT_EQ(unknown.action, Action::Unknown);
    EXPECT_EQ(unknown.unknown, "--verbos");
    // An empty argument is named visibly.
    EXPECT_EQ(parseCommandLine({""}).unknown, "\"\"");

    // The version the options file records, written as a person reads it: the record's text
    // lacks its closing parenthesis and the space before the build number.
    const std::string record = currentVersionText();
    const std::string version = record.substr(2, record.find(' ') - 2);
    const std::string build = record.substr(record.find("(build") + 6);
    EXPECT_EQ(commandLineVersion(), "vistamo " + version + " (build " + build + ")\n");
}

TEST(CommandLineTest, DebugLinesAreDroppedUntilVerboseRoutesThemToTheCategory) {
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    setDebugLineSink(nullptr);
    debugLine("before any sink");
    routeDebugLines(false);
    debugLine("category off");
    EXPECT_FALSE(debugCategory().isDebugEnabled());
    routeDebugLines(true);
    EXPECT_TRUE(debugCategory().isDebugEnabled());
    debugLine("window did load");
    logLine("snapshot not saved: disk full");
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    QLoggingCategory::setFilterRules({});
    setDebugLineSink(nullptr);

    EXPECT_EQ(out, "");
    EXPECT_EQ(err.find("before any sink"), std::string::npos) << err;
    EXPECT_EQ(err.find("category off"), std::string::npos) << err;
    EXPECT_NE(err.find("vistamo: window did load\n"), std::string::npos) << err;
    EXPECT_NE(err.find("vistamo: snapshot not saved: disk full\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace vistamo
