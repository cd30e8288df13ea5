#include "media/PCMPlayer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "media/AudioSignals.h"
#include "media/PCMPlayerTestAccess.h"

namespace vistamo {
namespace {

using test::constantBlock;
using Samples = std::vector<int16_t>;

double gNow = 0.0;  // the test's clock, moved by hand
double testClock() { return gNow; }

Samples filled(int16_t value) { return Samples(512, value); }

// A player without a device: the test plays its audio thread.
class PCMPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PCMPlayerTestAccess::resetUnderrunCounters();
        PCMPlayerTestAccess::setClock(player, &testClock);
        PCMPlayerTestAccess::setUnderrunWait(player, std::chrono::microseconds(0));
        gNow = 1000.0;
    }

    void startWithoutFade() {
        player.start();
        player.setVolume(1.0f);
    }
    void queue(const Bytes& block) { player.playData(block.data(), block.size()); }
    void queue(int16_t value) { queue(constantBlock(value)); }

    Samples render() {
        std::array<uint8_t, 1024> out;
        out.fill(0xAB);
        player.playbackCallback(out.data(), static_cast<int>(out.size()));
        return test::samplesOf(out);
    }
    // A render call that finds nothing to play, `seconds` after the previous one.
    void starve(double seconds) {
        gNow += seconds;
        ASSERT_TRUE(player.ringState().empty);
        ASSERT_EQ(render(), filled(0));
    }
    void steadyCalls(int calls) {
        for (int call = 0; call < calls; ++call) {
            queue(1);
            render();
        }
    }
    static PCMPlayer::UnderrunCounters counters() { return PCMPlayer::underrunCounters(); }

    PCMPlayer player;
};

TEST_F(PCMPlayerTest, QueuesBetweenStartAndStopAndSkipsTheOldestWhenFull) {
    queue(1);  // before `start`: dropped
    EXPECT_TRUE(player.ringState().empty);
    startWithoutFade();
    for (int16_t block = 1; block <= 11; ++block) {
        queue(block);
    }
    EXPECT_EQ(player.ringState().queuedBlocks, 10u);
    for (int16_t block = 2; block <= 11; ++block) {
        EXPECT_EQ(render(), filled(block)) << "block " << block;
    }

    // What was queued before `stop` never plays after the next `start`.
    queue(12);
    player.stop();
    queue(13);
    startWithoutFade();
    EXPECT_TRUE(player.ringState().empty);

    // Whole blocks while they fit, then silence; a block longer than the buffer is cut.
    queue(constantBlock(7, 400));
    queue(constantBlock(7, 400));
    Samples expected(512, 0);
    std::fill_n(expected.begin(), 400, int16_t{7});
    EXPECT_EQ(render(), expected);
    queue(constantBlock(9, 3000));
    EXPECT_EQ(render(), filled(9));
    EXPECT_TRUE(player.ringState().empty);

    // A block no node can hold is dropped and flagged.
    EXPECT_FALSE(player.ringState().bError);
    const Bytes small = constantBlock(1);
    player.playData(small.data(), uint64_t{1} << 33);
    EXPECT_TRUE(player.ringState().bError);
    EXPECT_TRUE(player.ringState().empty);
}

TEST_F(PCMPlayerTest, FadesInOver463BlocksAfterStart) {
    EXPECT_FLOAT_EQ(player.getVolume(), 0.8f);
    player.start();
    Samples block(512, 12345);
    block[1] = -333;   // truncated toward zero
    block[2] = 32767;  // a product past the 16-bit range wraps
    for (int number = 1; number <= 465; ++number) {
        queue(test::bytesOfSamples(block));
        const Samples played = render();
        if (number == 1) {  // gain 0.0101
            EXPECT_EQ(played[0], 124);
            EXPECT_EQ(played[1], -3);
        } else if (number == 462) {  // gain 0.9919
            EXPECT_EQ(played[0], 12245);
        } else if (number == 463) {  // gain 1.0018
            EXPECT_EQ((Samples{played[0], played[1], played[2]}),
                      (Samples{12367, -333, 32827 - 65536}));
        } else if (number >= 464) {
            EXPECT_EQ(played, block) << "block " << number;
        }
    }
}

TEST_F(PCMPlayerTest, GrowsAfterRepeatedStarvationUpToFiftyOneNodes) {
    startWithoutFade();
    // The first underrun records its time; the next nine, each within a second of the one
    // before, count up to nine; the eleventh adds a node and clears both counters.
    starve(0.0);
    EXPECT_EQ(counters().lastUnderrunTime, gNow);
    for (int count = 1; count <= 9; ++count) {
        starve(0.5);
        EXPECT_EQ(counters().underrunCount, count);
    }
    EXPECT_EQ(player.ringState().nodes, 11u);
    starve(0.5);
    EXPECT_EQ(player.ringState().nodes, 12u);
    EXPECT_EQ(player.ringState().additionalChainNumber, 1u);
    EXPECT_EQ(counters().underrunCount, 0);
    EXPECT_EQ(counters().lastUnderrunTime, 0.0);

    // An underrun a second or more after the one before restarts the window, keeping the count.
    starve(0.125);
    starve(0.125);
    starve(0.125);
    starve(1.0);
    EXPECT_EQ(counters().underrunCount, 2);
    EXPECT_EQ(counters().lastUnderrunTime, gNow);

    // The added node holds a block: eleven fit before the oldest is skipped.
    for (int16_t block = 1; block <= 11; ++block) {
        queue(block);
    }
    EXPECT_EQ(render(), filled(1));
    while (!player.ringState().empty) {
        render();
    }

    for (int underrun = 0; underrun < 600; ++underrun) {
        starve(1.0 / 128);
    }
    EXPECT_EQ(player.ringState().nodes, 51u);
    EXPECT_EQ(player.ringState().additionalChainNumber, 40u);
}

TEST_F(PCMPlayerTest, ShrinksAfterSteadyPlayback) {
    startWithoutFade();
    for (int underrun = 0; underrun < 22; ++underrun) {
        starve(0.125);
    }
    ASSERT_EQ(player.ringState().nodes, 13u);

    // The 1001st render call in a row that finds data gives back one node; a starved call
    // starts the count again.
    steadyCalls(600);
    starve(0.125);
    steadyCalls(1000);
    EXPECT_EQ(player.ringState().nodes, 13u);
    steadyCalls(1);
    EXPECT_EQ(player.ringState().nodes, 12u);
    EXPECT_EQ(counters().steadyCount, 0);

    // Not while the node after `chain_end` is `chain_begin` (the ring is full).
    steadyCalls(1000);
    for (int16_t block = 1; block <= 11; ++block) {
        queue(block);
    }
    EXPECT_EQ(render(), filled(1));
    EXPECT_EQ(player.ringState().nodes, 12u);
    for (int16_t block = 2; block <= 11; ++block) {
        EXPECT_EQ(render(), filled(block));
    }
    EXPECT_EQ(player.ringState().nodes, 11u);

    steadyCalls(2500);  // never below eleven
    EXPECT_EQ(player.ringState().nodes, 11u);
    EXPECT_EQ(player.ringState().additionalChainNumber, 0u);
}

}  // namespace
}  // namespace vistamo
