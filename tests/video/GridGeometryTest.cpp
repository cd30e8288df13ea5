#include "video/GridGeometry.h"

#include <gtest/gtest.h>

namespace vistamo {
namespace {

TEST(GridGeometryTest, AutomaticColumnsAreTheRoundedUpSquareRootAndFixedLayoutsCutTheList) {
    const std::pair<size_t, int> columns[] = {{0, 1}, {1, 1},  {2, 2},  {4, 2},  {5, 3},
                                              {9, 3}, {10, 4}, {16, 4}, {17, 5}, {100, 10}};
    for (const auto& [tiles, expected] : columns) {
        EXPECT_EQ(gridColumns(GridLayout::Automatic, tiles), expected) << tiles << " tiles";
        EXPECT_EQ(shownTiles(GridLayout::Automatic, tiles), tiles);
    }
    EXPECT_EQ(gridRows(GridLayout::Automatic, 5), 2);
    EXPECT_EQ(gridRows(GridLayout::Automatic, 7), 3);
    EXPECT_EQ(gridColumns(GridLayout::TwoByTwo, 9), 2);
    EXPECT_EQ(gridRows(GridLayout::TwoByTwo, 1), 2);
    EXPECT_EQ(shownTiles(GridLayout::TwoByTwo, 9), 4u);
    EXPECT_EQ(shownTiles(GridLayout::FourByFour, 3), 3u);
    EXPECT_EQ(shownTiles(GridLayout::OneByOne, 3), 1u);
}

TEST(GridGeometryTest, PicturesKeepTheirAspectInsideCellsThatNeitherOverlapNorLeaveTheView) {
    const QSize view(1000, 600);
    const std::vector<float> ratios = {16.0f / 9, 9.0f / 16, 4.0f / 3, 0, 1};
    const auto frames = gridTileFrames(GridLayout::Automatic, ratios, view);
    ASSERT_EQ(frames.size(), ratios.size());
    for (size_t index = 0; index < frames.size(); ++index) {
        const GridTileFrame& frame = frames[index];
        EXPECT_TRUE(QRect(QPoint(0, 0), view).contains(frame.cell)) << index;
        EXPECT_TRUE(frame.cell.contains(frame.name)) << index;
        for (size_t other = index + 1; other < frames.size(); ++other) {
            EXPECT_FALSE(frame.cell.intersects(frames[other].cell)) << index << " " << other;
        }
        if (ratios[index] == 0) {
            EXPECT_TRUE(frame.picture.isEmpty());
            continue;
        }
        EXPECT_TRUE(frame.cell.contains(frame.picture)) << index;
        EXPECT_EQ(frame.name.top(), frame.picture.bottom() + 1) << index;
        EXPECT_NEAR(static_cast<double>(frame.picture.width()) / frame.picture.height(),
                    ratios[index], 0.02)
            << index;
        // The picture fills its cell one way or the other.
        EXPECT_TRUE(frame.picture.width() == frame.cell.width() ||
                    frame.picture.height() == frame.cell.height() - kGridNameHeight)
            << index;
    }
    // Three columns of two rows: the fourth tile starts the second row.
    EXPECT_EQ(frames[3].cell.left(), frames[0].cell.left());
    EXPECT_GT(frames[3].cell.top(), frames[0].cell.bottom());

    EXPECT_EQ(gridTileFrames(GridLayout::ThreeByThree, ratios, view).size(), 5u);
    EXPECT_EQ(gridTileFrames(GridLayout::OneByOne, ratios, view).front().cell.width(),
              view.width() - 2 * kGridSpacing);
    EXPECT_TRUE(gridTileFrames(GridLayout::FourByFour, ratios, QSize(10, 10)).empty());
    EXPECT_TRUE(gridTileFrames(GridLayout::Automatic, {}, view).empty());
}

}  // namespace
}  // namespace vistamo
