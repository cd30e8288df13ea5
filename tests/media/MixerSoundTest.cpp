// The alarm and shutter sounds through SDL2_mixer on SDL's disk audio driver.
#include "media/MixerSound.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/DiskSound.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

namespace fs = std::filesystem;

class MixerSoundTest : public test::DiskSoundTest {
protected:
    void TearDown() override {
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the last sound gives the device back";
        DiskSoundTest::TearDown();
    }

    static std::string resource(const char* name) {
        return std::string(VISTAMO_SOURCE_DIR) + "/resources/" + name;
    }
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
    EXPECT_GT(playedBytes(), 0u);
}

TEST_F(MixerSoundTest, MissingOrBrokenFilesGiveNone) {
    EXPECT_FALSE(loadSound((home_ / "missing.mp3").string()));
    const fs::path broken = home_ / "broken.wav";
    writeText(broken, std::string("RIFF\x10\0\0\0WAVEjunk", 16));
    EXPECT_FALSE(loadSound(broken.string()));
}

}  // namespace
}  // namespace vistamo
