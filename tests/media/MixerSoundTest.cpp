// The alarm and shutter sounds through SDL2_mixer on SDL's disk audio driver.
#include "media/MixerSound.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/Wait.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

class MixerSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "vistamo-mixer-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", (folder_ / "played.raw").c_str(), 1);
    }
    void TearDown() override {
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the last sound gives the device back";
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static std::string resource(const char* name) {
        return std::string(VISTAMO_SOURCE_DIR) + "/resources/" + name;
    }

    fs::path folder_;
};

TEST_F(MixerSoundTest, PlaysEachSoundOnceWithoutRestarting) {
    auto alarm = loadSound(resource("alarm.mp3"));
    auto shutter = loadSound(resource("shutter1.wav"));
    ASSERT_TRUE(alarm);
    ASSERT_TRUE(shutter);
    EXPECT_FALSE(alarm->isPlaying());

    alarm->play();
    shutter->play();
    EXPECT_TRUE(alarm->isPlaying());
    EXPECT_TRUE(shutter->isPlaying()) << "sounds do not cut each other";
    ASSERT_TRUE(test::waitUntil([&] { return !shutter->isPlaying(); }));
    EXPECT_TRUE(alarm->isPlaying()) << "the alarm is longer than the shutter";

    // The shutter plays again once it has ended; a play request while the alarm plays leaves
    // it playing, and it still ends.
    shutter->play();
    EXPECT_TRUE(shutter->isPlaying());
    alarm->play();
    ASSERT_TRUE(test::waitUntil([&] { return !alarm->isPlaying(); }));
    EXPECT_GT(fs::file_size(folder_ / "played.raw"), 0u);
}

TEST_F(MixerSoundTest, MissingOrBrokenFilesGiveNone) {
    EXPECT_FALSE(loadSound((folder_ / "missing.mp3").string()));
    const fs::path broken = folder_ / "broken.wav";
    {
        std::FILE* file = std::fopen(broken.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("RIFF\x10\0\0\0WAVEjunk", file);
        std::fclose(file);
    }
    EXPECT_FALSE(loadSound(broken.string()));
}

}  // namespace
}  // namespace vistamo
