// The watermark canvas, and the local camera preview fed by a stand-in camera (no webcam can
// exist here) or by the real V4L2 reader on paths that are no camera.
#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/LocalCameraPreview.h"
#include "app/V4L2FrameSource.h"
#include "app/WatermarkCanvas.h"
#include "platform/Resources.h"
#include "support/TempHome.h"
#include "support/qt/QtWait.h"

namespace vistamo {
namespace {

using test::waitProcessingEvents;

QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(colour);
    return image;
}

void expectColour(const QImage& image, int x, int y, QColor expected) {
    const QColor actual = image.pixelColor(x, y);
    const auto near = [](int a, int b) { return std::abs(a - b) <= 3; };
    EXPECT_TRUE(near(actual.red(), expected.red()) && near(actual.green(), expected.green()) &&
                near(actual.blue(), expected.blue()) && near(actual.alpha(), expected.alpha()))
        << "at " << x << "," << y << ": " << actual.name(QColor::HexArgb).toStdString()
        << " instead of " << expected.name(QColor::HexArgb).toStdString();
}

TEST(WatermarkCanvasTest, LogoSitsTenPixelsFromTheTopLeftAtFourFifthsSize) {
    // A 100 × 50 logo covers x 10..89 and y 10..49 (top-down).
    const QImage canvas = WatermarkCanvas::make(solid(100, 50, Qt::red));
    ASSERT_EQ(canvas.size(), QSize(1280, 720));
    expectColour(canvas, 11, 11, Qt::red);
    expectColour(canvas, 88, 48, Qt::red);
    for (const QPoint outside : {QPoint(9, 20), QPoint(20, 9), QPoint(91, 20), QPoint(20, 51),
                                 QPoint(1279, 719), QPoint(640, 360)}) {
        expectColour(canvas, outside.x(), outside.y(), Qt::transparent);
    }

    // The real logo, when it is there, stays inside its rectangle.
    const QImage logo(QString::fromStdString(resourcePath("logo.png")));
    if (logo.isNull()) {
        return;
    }
    const QImage real = WatermarkCanvas::makeFromResource();
    const QRect area = WatermarkCanvas::logoRect(logo.size()).toAlignedRect();
    int inside = 0;
    for (int y = 0; y < real.height(); y += 2) {
        for (int x = 0; x < real.width(); x += 2) {
            if (qAlpha(real.pixel(x, y)) == 0) {
                continue;
            }
            ASSERT_TRUE(area.contains(x, y)) << x << "," << y;
            ++inside;
        }
    }
    EXPECT_GT(inside, 0);
}

// Hands out the same picture until stopped or until `limit` pictures are out.
class StandInCamera final : public PreviewFrameSource {
public:
    StandInCamera(QImage picture, std::shared_ptr<std::atomic<int>> alive, int limit = -1)
        : picture_(std::move(picture)), alive_(std::move(alive)), limit_(limit) {
        ++*alive_;
    }
    ~StandInCamera() override { --*alive_; }

    std::optional<std::string> open() override { return std::nullopt; }
    std::optional<QImage> readFrame(const std::atomic<bool>& stopping) override {
        if (limit_ == 0) {
            return std::nullopt;
        }
        --limit_;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return stopping.load() ? std::nullopt : std::optional<QImage>(picture_);
    }

private:
    QImage picture_;
    std::shared_ptr<std::atomic<int>> alive_;
    int limit_;
};

TEST(LocalCameraPreviewTest, BlendsTheCanvasOverTheCameraPictureAtFourFifths) {
    auto alive = std::make_shared<std::atomic<int>>(0);
    LocalCameraPreview preview(WatermarkCanvas::make(solid(100, 50, Qt::red)));
    preview.resize(640, 360);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    ASSERT_FALSE(preview.start(std::make_unique<StandInCamera>(solid(1280, 720, Qt::blue), alive)));
    EXPECT_TRUE(preview.isRunning());
    ASSERT_TRUE(waitProcessingEvents([&] { return preview.framesReceived() >= 2; }));

    // At half size the logo covers x 5..44, y 5..24: 0.8 red over blue.
    QImage drawn = preview.grabFramebuffer();
    ASSERT_EQ(drawn.size(), QSize(640, 360));
    expectColour(drawn, 20, 12, QColor(204, 0, 51));
    expectColour(drawn, 300, 200, Qt::blue);

    // A taller surface keeps the picture's proportions: 640 × 360 centred, black above.
    preview.resize(640, 480);
    drawn = preview.grabFramebuffer();
    expectColour(drawn, 320, 30, Qt::black);
    expectColour(drawn, 320, 240, Qt::blue);
    expectColour(drawn, 20, 72, QColor(204, 0, 51));

    preview.stop();
    EXPECT_FALSE(preview.isRunning());
    EXPECT_EQ(*alive, 0) << "the camera is closed once the reader has stopped";
}

TEST(LocalCameraPreviewTest, ReaderEndsWithTheSourceAndDestructionJoinsIt) {
    auto alive = std::make_shared<std::atomic<int>>(0);
    {
        LocalCameraPreview preview(QImage{});
        ASSERT_FALSE(
            preview.start(std::make_unique<StandInCamera>(solid(64, 36, Qt::green), alive, 3)));
        EXPECT_TRUE(waitProcessingEvents([&] { return !preview.isRunning(); }));
        EXPECT_TRUE(waitProcessingEvents([&] { return preview.framesReceived() >= 1; }));
        // A restart replaces the ended source; destruction then stops the running one.
        ASSERT_FALSE(
            preview.start(std::make_unique<StandInCamera>(solid(64, 36, Qt::green), alive)));
        EXPECT_EQ(*alive, 1);
        EXPECT_TRUE(preview.isRunning());
    }
    EXPECT_EQ(*alive, 0);
}

// In a folder of its own, which several test runs on one machine do not share.
class NoCameraTest : public test::TempHomeTest {};

TEST_F(NoCameraTest, NoCameraGivesTheReasonAndLeavesNothingRunning) {
    const auto notADevice = home_ / "video0";
    writeText(notADevice, "not a camera");

    LocalCameraPreview preview(WatermarkCanvas::make(QImage{}));
    for (const auto& path : {home_ / "missing", notADevice}) {
        const auto error = preview.start(std::make_unique<V4L2FrameSource>(path.string()));
        ASSERT_TRUE(error) << path;
        EXPECT_NE(error->find(path.string()), std::string::npos) << *error;
        EXPECT_FALSE(preview.isRunning());
    }
    EXPECT_EQ(preview.framesReceived(), 0u);
}

}  // namespace
}  // namespace vistamo
