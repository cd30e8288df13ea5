// The camera grid's one OpenGL widget under a real context (Xvfb with Mesa): tiles fed through
// their renderers' decoder-thread entry point, the framebuffer read back inside each tile.
#include "video/CameraGridView.h"

#include <gtest/gtest.h>

#include <QImage>
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
