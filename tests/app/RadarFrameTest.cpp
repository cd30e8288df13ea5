#include "app/RadarFrame.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

TEST(RadarFrameTest, RingsOfA640By480ViewStepOutwardsAndWrapAfterPhase80) {
    RadarState state{true, 0};
    EXPECT_EQ(nextRadarFrame(state, 640, 480),
              (std::vector<double>{18, 98, 178, 258, 338, 418, 498, 578}));
    EXPECT_EQ(state.reducedRadius, 1);

    // Phase 62 puts the outermost ring at 640, which is not below the larger side.
    state.reducedRadius = 62;
    EXPECT_EQ(nextRadarFrame(state, 640, 480).size(), 7u);

    // 81 phases: 80 still draws, then the next frame is phase 0 again.
    state.reducedRadius = 80;
    EXPECT_EQ(nextRadarFrame(state, 640, 480).front(), 98);
    EXPECT_EQ(state.reducedRadius, 0);
    EXPECT_EQ(nextRadarFrame(state, 640, 480).front(), 18);

    // The taller side counts as much as the wider one.
    RadarState tall{true, 0};
    EXPECT_EQ(nextRadarFrame(tall, 100, 200), (std::vector<double>{18, 98, 178}));
}

TEST(RadarFrameTest, DisabledRadarKeepsItsPhaseAndTinyViewsStillAdvance) {
    RadarState disabled{false, 37};
    EXPECT_TRUE(nextRadarFrame(disabled, 640, 480).empty());
    EXPECT_EQ(disabled.reducedRadius, 37);

    RadarState tiny{true, 0};
    EXPECT_TRUE(nextRadarFrame(tiny, 18, 10).empty());
    EXPECT_EQ(tiny.reducedRadius, 1);
}

}  // namespace
}  // namespace vistamo
