// Every settings file survives its writer being killed at any moment: each file is always its
// old or its new contents, byte for byte, and no temporary file is left to pile up.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "faults/writer/SettingsVersions.h"
#include "platform/AtomicFile.h"
#include "settings/Folders.h"
#include "support/Spawn.h"
#include "support/TempHome.h"

namespace vistamo::test {
namespace {

namespace fs = std::filesystem;

// Runs the settings writer with `arguments` (none: until killed); its process id.
pid_t startWriter(std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), VISTAMO_SETTINGS_WRITER_PATH);
    return spawnProcess(arguments);
}

// The writer's exit status once it has ended, as reapProcess gives it.
int waitFor(pid_t pid) { return reapProcess(pid, std::chrono::hours(1)).value_or(-1); }

class SettingsDurabilityTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        ASSERT_TRUE(createSubFolder(kAppFolderName, true));
        folder = *libraryFolder() / kAppFolderName;
    }

    std::map<std::string, Bytes> contents() const {
        std::map<std::string, Bytes> files;
        for (const char* name : kSettingsFiles) {
            files[name] = readWholeFile(folder / name, 16 << 20).value_or(Bytes{});
        }
        return files;
    }
    // Files in the settings folder that are none of the settings files.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> stray;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename();
            if (std::find(std::begin(kSettingsFiles), std::end(kSettingsFiles), name) ==
                std::end(kSettingsFiles)) {
                stray.push_back(name);
            }
        }
        return stray;
    }

    fs::path folder;
};

TEST_F(SettingsDurabilityTest, KilledWriterLeavesEveryFileWholeAndNoTemporariesPilingUp) {
    // What each version makes of each file, written by the writer itself.
    std::map<std::string, Bytes> versions[2];
    for (int version : {1, 0}) {
        ASSERT_EQ(waitFor(startWriter({std::to_string(version)})), 0);
        versions[version] = contents();
    }
    for (const char* name : kSettingsFiles) {
        ASSERT_FALSE(versions[0][name].empty()) << name;
        ASSERT_NE(versions[0][name], versions[1][name]) << name;
    }

    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> moment(0, 100'000);
    size_t mostStray = 0;
    int changed = 0;
    std::map<std::string, Bytes> before = contents();
    for (int kill = 0; kill < 200; ++kill) {
        const pid_t writer = startWriter();
        ASSERT_GT(writer, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(writer, SIGKILL);
        const int status = waitFor(writer);
        ASSERT_EQ(status, 128 + SIGKILL) << "the writer ended by itself";

        const auto now = contents();
        for (const char* name : kSettingsFiles) {
            const Bytes& file = now.at(name);
            ASSERT_TRUE(file == versions[0][name] || file == versions[1][name])
                << name << " is neither version after kill " << kill << " (" << file.size()
                << " bytes)";
        }
        changed += now != before;
        before = now;
        // At most one temporary per file: that of its last write cut short.
        const auto stray = strayFiles();
        mostStray = std::max(mostStray, stray.size());
        for (const char* name : kSettingsFiles) {
            const std::string prefix = std::string(".") + name + ".tmp-";
            EXPECT_LE(
                std::count_if(stray.begin(), stray.end(),
                              [&](const std::string& each) { return each.starts_with(prefix); }),
                1)
                << name << " after kill " << kill;
        }
        ASSERT_EQ(stray.size(),
                  static_cast<size_t>(std::count_if(
                      stray.begin(), stray.end(),
                      [](const auto& each) { return each.find(".tmp-") != std::string::npos; })))
            << "only temporaries besides the settings files";
    }
    std::printf("%d of 200 kills found the files changed; at most %zu temporaries\n", changed,
                mostStray);
    EXPECT_GT(changed, 10) << "the kills should land while the writer runs";
    // The next write clears what a killed writer left.
    ASSERT_EQ(waitFor(startWriter({"0"})), 0);
    EXPECT_TRUE(strayFiles().empty());
}

// A temporary of a writer in this very process may be in use by another thread: only those of
// processes that are gone are cleared.
TEST_F(SettingsDurabilityTest, TemporariesOfLiveWritersAreKept) {
    const fs::path target = folder / "clips.conf";
    const fs::path own = folder / (".clips.conf.tmp-" + std::to_string(::getpid()) + "-0-1");
    const fs::path dead = folder / ".clips.conf.tmp-999999999-0-1";
    const fs::path other = folder / ".windows.tmp-999999999-0-1";
    for (const fs::path& path : {own, dead, other}) {
        ASSERT_TRUE(writeFileAtomically(path, bytesOf("x"), 0600));
    }
    ASSERT_TRUE(writeFileAtomically(target, bytesOf("recordClip = yes\n"), 0600));
    EXPECT_TRUE(fs::exists(own));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(other)) << "another file's temporary is its own writer's business";
}

}  // namespace
}  // namespace vistamo::test
