// The camera grid's one OpenGL widget under a real context (Xvfb with Mesa): tiles fed through
// their renderers' decoder-thread entry point, the framebuffer read back inside each tile.
#include "video/CameraGridView.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <thread>

#include "support/qt/QtWait.h"
#include "video/TestFrames.h"
#include "video/VideoRenderer.h"

namespace vistamo {
namespace {

using test::FrameSpec;
using test::makeFrame;
using test::waitProcessingEvents;

bool reddish(QRgb pixel) { return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60; }
bool bluish(QRgb pixel) { return qBlue(pixel) > 200 && qRed(pixel) < 60 && qGreen(pixel) < 60; }

// The grid's pixel at the centre of the left or right half of `key`'s picture.
QRgb sample(const CameraGridView& grid, const QImage& image, const std::string& key, bool left) {
    const auto picture = grid.pictureRectOf(key);
    if (!picture) {
        return 0;
    }
    const double scale = grid.devicePixelRatioF();
    const int x = picture->left() + picture->width() * (left ? 1 : 3) / 4;
    const int y = picture->center().y();
    return image.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale));
}

void deliver(VideoRenderer& renderer, const PixelBuffer& frame) {
    const uint64_t before = renderer.uploadedFrames();
    std::thread decoder([&] { renderer.pictureDecoded(frame); });
    decoder.join();
    ASSERT_TRUE(waitProcessingEvents([&] { return renderer.uploadedFrames() == before + 1; }));
}

TEST(CameraGridViewTest, EachTileDrawsItsOwnCameraAndOnlyANewPictureIsUploaded) {
    CameraGridView grid;
    grid.resize(800, 400);
    auto wide = grid.addTile("uuid:wide", QStringLiteral("Hall"));
    auto tall = grid.addTile("uuid:tall", QStringLiteral("Garden"));
    EXPECT_EQ(grid.addTile("uuid:wide", QStringLiteral("Hall")), wide);  // one tile per key
    grid.show();
    ASSERT_TRUE(waitProcessingEvents([&] { return grid.context() != nullptr; }));

    const FrameSpec redLeft{.width = 320, .height = 180};
    const FrameSpec blueLeft{
        .width = 180, .height = 320, .left = test::kBlue601Limited, .right = test::kRed601Limited};
    deliver(*wide, makeFrame(redLeft));
    deliver(*tall, makeFrame(blueLeft));
    ASSERT_TRUE(grid.pictureRectOf("uuid:wide") && grid.pictureRectOf("uuid:tall"));
    EXPECT_NEAR(
        grid.pictureRectOf("uuid:tall")->width() * 1.0 / grid.pictureRectOf("uuid:tall")->height(),
        180.0 / 320, 0.02);

    QImage image = grid.grabFramebuffer();
    // Neither tile's clear wiped the other's picture.
    EXPECT_TRUE(reddish(sample(grid, image, "uuid:wide", true)));
    EXPECT_TRUE(bluish(sample(grid, image, "uuid:wide", false)));
    EXPECT_TRUE(bluish(sample(grid, image, "uuid:tall", true)));
    EXPECT_TRUE(reddish(sample(grid, image, "uuid:tall", false)));
    EXPECT_EQ(grid.tileAt(grid.pictureRectOf("uuid:tall")->center()), "uuid:tall");

    // A new picture for one camera goes into that tile's textures only.
    const uint64_t tallUploads = tall->uploadedFrames();
    deliver(*wide, makeFrame(blueLeft));
    image = grid.grabFramebuffer();
    EXPECT_EQ(tall->uploadedFrames(), tallUploads);
    EXPECT_TRUE(bluish(sample(grid, image, "uuid:wide", true)));
    EXPECT_TRUE(bluish(sample(grid, image, "uuid:tall", true)));

    // A click focuses a tile, which then takes the keys; the statuses draw over the pictures.
    std::vector<std::pair<std::string, int>> keys;
    int focusChanges = 0;
    grid.setOnFocusChanged([&] { ++focusChanges; });
    grid.setOnKey([&](const std::string& tile, int key) { keys.emplace_back(tile, key); });
    QTest::keyClick(&grid, Qt::Key_T);  // no tile focused yet
    const QRect tallPicture = *grid.pictureRectOf("uuid:tall");
    QTest::mouseClick(&grid, Qt::LeftButton, {}, tallPicture.center());
    QTest::mouseClick(&grid, Qt::LeftButton, {}, tallPicture.center());
    QTest::keyClick(&grid, Qt::Key_T);
    QTest::keyClick(&grid, Qt::Key_W, Qt::ControlModifier);  // the menus' shortcut, not the tile's
    EXPECT_EQ(focusChanges, 1);
    EXPECT_EQ(grid.focusedTile(), "uuid:tall");
    EXPECT_EQ(keys, (std::vector<std::pair<std::string, int>>{{"uuid:tall", Qt::Key_T}}));

    grid.setTileStatus("uuid:tall", {.reconnecting = true, .recording = true});
    grid.setTileStatus("uuid:wide", {.alarmed = true});
    image = grid.grabFramebuffer();
    const auto at = [&](QPoint point) {
        const double scale = grid.devicePixelRatioF();
        return image.pixel(static_cast<int>(point.x() * scale),
                           static_cast<int>(point.y() * scale));
    };
    const QRgb dimmed = sample(grid, image, "uuid:tall", true);
    EXPECT_LT(qBlue(dimmed), 120);  // blue under the dimming
    EXPECT_GT(qBlue(dimmed), qRed(dimmed) + 20);
    EXPECT_TRUE(reddish(at(tallPicture.topRight() + QPoint(-2 * 7, 2 * 7))));
    const QRgb frame = at(grid.pictureRectOf("uuid:wide")->topLeft() + QPoint(3, 40));
    EXPECT_GT(qRed(frame), 200);
    EXPECT_GT(qGreen(frame), 120);
    EXPECT_LT(qBlue(frame), 60);  // orange, over the picture's blue
    EXPECT_TRUE(
        bluish(sample(grid, image, "uuid:wide", true)));  // the picture itself is not dimmed

    // One by one shows the first camera across the whole window.
    grid.setLayout(GridLayout::OneByOne);
    EXPECT_FALSE(grid.pictureRectOf("uuid:tall"));
    EXPECT_EQ(grid.tileAt(QPoint(700, 200)), "uuid:wide");
    grid.removeTile("uuid:wide");
    EXPECT_EQ(grid.tileKeys(), std::vector<std::string>{"uuid:tall"});
    EXPECT_TRUE(grid.pictureRectOf("uuid:tall"));
}

}  // namespace
}  // namespace vistamo
