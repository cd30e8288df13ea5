#include "settings/OptionData.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/AtomicFile.h"
#include "settings/ByteFields.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

AlarmOptions customOptions() {
    AlarmOptions options;
    options.bEnableActive = false;
    options.activeProgram = "Mail";
    options.bEnableTerminate = true;
    options.terminateProgram = "Bücher";
    options.bEnableSound = true;
    options.bOnceAlarm = false;
    options.bEnableRun = true;
    options.runProgram = "Recorder.app";
    options.picID = 9999;
    options.bHit = false;
    return options;
}

// The values an empty record gives.
void expectEmptyRecordDefaults(const AlarmOptions& options) {
    EXPECT_TRUE(options.bEnableActive);
    EXPECT_EQ(options.activeProgram, "Safari");
    EXPECT_FALSE(options.bEnableTerminate);
    EXPECT_EQ(options.terminateProgram, "");
    EXPECT_TRUE(options.bEnableSound);
    EXPECT_TRUE(options.bOnceAlarm);
    EXPECT_FALSE(options.bEnableRun);
    EXPECT_EQ(options.runProgram, "");
    EXPECT_EQ(options.picID, 0);
    EXPECT_TRUE(options.bHit);
}

TEST(OptionDataTest, RecordLayoutAndRoundTrip) {
    AlarmOptions options = customOptions();
    options.version = "V.1.2 (build7";
    const Bytes data = setOptionData(options);

    Bytes expected = {0x00, 0, 0, 0, 4, 'M', 'a', 'i', 'l', 0x01, 0, 0, 0, 7};
    const std::string books = "Bücher";
    expected.insert(expected.end(), books.begin(), books.end());
    expected.insert(expected.end(), {0x01, 0x00, 0x01, 0, 0, 0, 12});
    const std::string run = "Recorder.app";
    expected.insert(expected.end(), run.begin(), run.end());
    expected.insert(expected.end(), {0x00, 0x00, 0x27, 0x0f, 0x00, 0, 0, 0, 13});
    const std::string version = "V.1.2 (build7";
    expected.insert(expected.end(), version.begin(), version.end());
    EXPECT_EQ(data, expected);
    EXPECT_EQ(data.size(), 26u + 4 + 7 + 12 + 13);

    // Read back by the same version, every field returns, bHit included.
    AlarmOptions read;
    read.version = options.version;
    readOptionRecord(read, data);
    EXPECT_EQ(setOptionData(read), data);
    EXPECT_FALSE(read.bHit);
}

TEST(OptionDataTest, ShortRecordsAndOtherVersions) {
    // 12 bytes: both texts empty, ending after bOnceAlarm.
    const Bytes twelve = {0x01, 0, 0, 0, 0, 0x00, 0, 0, 0, 0, 0x01, 0x00};
    AlarmOptions options = customOptions();
    readOptionRecord(options, twelve);
    EXPECT_TRUE(options.bEnableActive);
    EXPECT_EQ(options.activeProgram, "");
    EXPECT_TRUE(options.bEnableSound);
    EXPECT_FALSE(options.bOnceAlarm);
    EXPECT_FALSE(options.bEnableRun);
    EXPECT_EQ(options.runProgram, "Recorder.app") << "an old record leaves runProgram alone";
    EXPECT_EQ(options.picID, 0);
    EXPECT_TRUE(options.bHit);

    // A record written by another version: everything read, but the notice shows again.
    AlarmOptions written = customOptions();
    written.version = "V.0.0.9 (build1";
    AlarmOptions read;
    readOptionRecord(read, setOptionData(written));
    EXPECT_EQ(read.picID, 9999);
    EXPECT_EQ(read.runProgram, "Recorder.app");
    EXPECT_TRUE(read.bHit);
    EXPECT_EQ(read.version, currentVersionText()) << "the stored version is never adopted";
    EXPECT_TRUE(read.version.starts_with("V.") && !read.version.ends_with(")"));

    // A record that ends after bHit (no version) or after runProgram.
    Bytes cut = setOptionData(customOptions());
    cut.resize(cut.size() - 4 - currentVersionText().size());
    readOptionRecord(read, cut);
    EXPECT_EQ(read.picID, 9999);
    EXPECT_TRUE(read.bHit);
    cut.resize(cut.size() - 5);
    read.picID = 5;
    readOptionRecord(read, cut);
    EXPECT_EQ(read.picID, 0);
    EXPECT_TRUE(read.bEnableRun);
}

TEST(OptionDataTest, MalformedRecordsGiveTheDefaults) {
    const Bytes good = setOptionData(customOptions());
    const size_t runEnd = 26 + 4 + 7 + 12 - 5;  // where picID starts
    std::vector<std::pair<std::string, Bytes>> cases;
    cases.emplace_back("one byte", Bytes{0x01});
    cases.emplace_back("length past the end", Bytes{0x01, 0x7f, 0xff, 0xff, 0xff, 'a'});
    cases.emplace_back("negative length", Bytes{0x01, 0xff, 0xff, 0xff, 0xfe, 'a', 'b'});
    cases.emplace_back("bad UTF-8", Bytes{0x01, 0, 0, 0, 2, 0xc3, 0x28, 0, 0, 0, 0, 0, 1, 1});
    cases.emplace_back("no bOnceAlarm", Bytes(good.begin(), good.begin() + 22));
    cases.emplace_back("cut runProgram", Bytes(good.begin(), good.begin() + runEnd - 3));
    cases.emplace_back("cut picID", Bytes(good.begin(), good.begin() + runEnd + 2));
    cases.emplace_back("cut version", Bytes(good.begin(), good.end() - 1));
    cases.emplace_back("version count only", Bytes(good.begin(), good.begin() + runEnd + 7));
    for (const auto& [name, data] : cases) {
        AlarmOptions options = customOptions();
        options.version = "running";
        readOptionRecord(options, data);
        SCOPED_TRACE(name);
        expectEmptyRecordDefaults(options);
        EXPECT_EQ(options.version, "running");
    }
    AlarmOptions empty = customOptions();
    readOptionRecord(empty, {});
    expectEmptyRecordDefaults(empty);
}

class OptionFilesTest : public test::TempHomeTest {
protected:
    fs::path folder() const { return home_ / ".config" / "vistamo+"; }
    Bytes fileBytes(const char* name) const {
        return readWholeFile(folder() / name, kMaxOptionsFileBytes).value_or(Bytes{});
    }
};

TEST_F(OptionFilesTest, FirstStartWritesDefaultsAndLaterStartsReadThem) {
    EXPECT_TRUE(loadOptions().empty());
    AlarmOptions options;
    loadOrCreateOptions(options);
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_TRUE(options.bEnableSound);
    EXPECT_EQ(options.activeProgram, "Safari");
    EXPECT_EQ(loadOptions(), setOptionData(options));

    options.runProgram = "Editor";
    options.picID = 12;
    ASSERT_TRUE(saveOptionRecord(setOptionData(options)));
    AlarmOptions next;
    loadOrCreateOptions(next);
    EXPECT_EQ(next.runProgram, "Editor");
    EXPECT_EQ(next.picID, 12);

    // An empty file reads like a missing one.
    ASSERT_TRUE(saveOptionRecord({}));
    writeText(folder() / ".config", "");
    AlarmOptions fromEmpty = customOptions();
    loadOrCreateOptions(fromEmpty);
    expectEmptyRecordDefaults(fromEmpty);
}

TEST_F(OptionFilesTest, WritesKeepAnOlderLongerTailAndAreAtomic) {
    fs::create_directories(folder());
    const std::string old(100, 'x');
    writeText(folder() / ".config", old);
    const Bytes record = setOptionData(AlarmOptions{});
    ASSERT_TRUE(saveOptionRecord(record));

    Bytes expected = record;
    expected.insert(expected.end(), old.begin() + static_cast<ptrdiff_t>(record.size()), old.end());
    EXPECT_EQ(fileBytes(".config"), expected);
    EXPECT_EQ(entryCount(folder()), 1u) << "no temporary file stays behind";
    EXPECT_EQ(fs::status(folder() / ".config").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // The reader ignores the tail.
    AlarmOptions read;
    readOptionRecord(read, loadOptions());
    EXPECT_EQ(setOptionData(read), record);

    ASSERT_TRUE(savePasswordRecord(bytesOf("tail")));
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    EXPECT_EQ(fileBytes(".config"), expected);

    // Program-name files hold their text exactly.
    EXPECT_EQ(getActiveProgram(), "");
    ASSERT_TRUE(saveActiveProgram("Navigateur Web"));
    ASSERT_TRUE(saveTerminatePrograms("Terminal"));
    EXPECT_EQ(getActiveProgram(), "Navigateur Web");
    EXPECT_EQ(getTerminatePrograms(), "Terminal");
    writeText(folder() / "terminate", "\xff\xfe");
    EXPECT_EQ(getTerminatePrograms(), "");
}

TEST_F(OptionFilesTest, NoFolderMeansNothingWrittenAndNoCrash) {
    EXPECT_FALSE(saveOptionRecord(bytesOf("abc")));
    EXPECT_FALSE(fs::exists(folder()));
    // A folder where the file should be reads as missing.
    fs::create_directories(folder() / ".config");
    EXPECT_TRUE(loadOptions().empty());
}

}  // namespace
}  // namespace vistamo
