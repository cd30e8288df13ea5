// The frame renderer, the control bar and the view under a real OpenGL context (Xvfb with
// Mesa): frames go through the decoder-thread entry point, the view's framebuffer is read back
// and checked where the picture's colours are known.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "media/DecodedFrame.h"
#include "support/qt/QtWait.h"
#include "video/ControlBar.h"
#include "video/ImageTexture.h"
#include "video/ShaderProgram.h"
#include "video/TestFrames.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"

namespace vistamo {
namespace {

using test::FrameSpec;
using test::kBlue601Limited;
using test::kGreen709Full;
using test::kRed601Limited;
using test::kWhite709Full;
using test::makeFrame;
using test::waitProcessingEvents;
using test::Yuv;

// Whether `pixel` is within `tolerance` of (r, g, b) in each channel.
::testing::AssertionResult colourNear(QRgb pixel, int r, int g, int b, int tolerance = 12) {
    if (std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
        std::abs(qBlue(pixel) - b) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "pixel (" << qRed(pixel) << ", " << qGreen(pixel) << ", " << qBlue(pixel)
           << "), expected (" << r << ", " << g << ", " << b << ")";
}

// The view's pixel at (x, y) in points from the top left.
QRgb pixelAt(const QImage& image, const VideoView& view, double x, double y) {
    const double scale = view.backingScale();
    return image.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale));
}

class RendererTest : public ::testing::Test {
protected:
    // A shown view with its renderer, wired as the view controller wires them.
    struct Shown {
        std::unique_ptr<VideoView> view;
        std::shared_ptr<VideoRenderer> video;
    };

    Shown show(int width, int height) {
        Shown shown;
        shown.view = std::make_unique<VideoView>();
        shown.view->resize(width, height);
        shown.video = std::make_shared<VideoRenderer>();
        shown.view->setVideo(shown.video);
        shown.view->show();
        EXPECT_TRUE(waitProcessingEvents([&] { return shown.view->context() != nullptr; }));
        return shown;
    }

    // Delivers `frame` from another thread, as the decoder does, and waits for the upload.
    static void deliver(VideoRenderer& video, const PixelBuffer& frame) {
        ASSERT_TRUE(frame);
        const uint64_t before = video.uploadedFrames();
        std::thread decoder([&] { video.pictureDecoded(frame); });
        decoder.join();  // the decoder's thread never waits for the main thread
        ASSERT_TRUE(waitProcessingEvents([&] { return video.uploadedFrames() == before + 1; }));
    }
};

TEST_F(RendererTest, DrawsLetterboxedFramesInTheirColourSpaceWithTexturesUpdatedInPlace) {
    Shown shown = show(640, 480);
    VideoView& view = *shown.view;
    deliver(*shown.video, makeFrame({}));
    EXPECT_FLOAT_EQ(view.ratio(), 320.0f / 180.0f);

    // 16:9 in 4:3: bands of 60 points above and below.
    QImage image = view.grabFramebuffer();
    EXPECT_TRUE(colourNear(pixelAt(image, view, 160, 240), 255, 0, 0));
    EXPECT_TRUE(colourNear(pixelAt(image, view, 480, 240), 0, 0, 255));
    EXPECT_TRUE(colourNear(pixelAt(image, view, 320, 30), 64, 64, 64, 2));
    EXPECT_TRUE(colourNear(pixelAt(image, view, 160, 65), 255, 0, 0));
    // The first row of the frame is at the top: the padding never shows at the edges.
    EXPECT_TRUE(colourNear(pixelAt(image, view, 637, 62), 0, 0, 255));

    const auto textures = shown.video->planeTextures();
    for (GLuint texture : textures) {
        EXPECT_NE(texture, 0u);
    }
    // Same size, another matrix and range: the same textures, the new colours.
    deliver(*shown.video, makeFrame({.left = kGreen709Full,
                                     .right = kWhite709Full,
                                     .colorspace = AVCOL_SPC_BT709,
                                     .range = AVCOL_RANGE_JPEG}));
    EXPECT_EQ(shown.video->planeTextures(), textures);
    image = view.grabFramebuffer();
    EXPECT_TRUE(colourNear(pixelAt(image, view, 160, 240), 0, 255, 0));
    EXPECT_TRUE(colourNear(pixelAt(image, view, 480, 240), 255, 255, 255));

    // A 4:3 stream of another size without a first-frame notice still gets its own geometry, in
    // each chroma layout: it fills the 4:3 view.
    for (AVPixelFormat format : {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV420P}) {
        deliver(*shown.video, makeFrame({.width = 200, .height = 150, .format = format}));
        EXPECT_FLOAT_EQ(view.ratio(), 4.0f / 3.0f);
        EXPECT_EQ(shown.video->frame_width(), 200);
        image = view.grabFramebuffer();
        EXPECT_TRUE(colourNear(pixelAt(image, view, 5, 5), 255, 0, 0)) << format;
        EXPECT_TRUE(colourNear(pixelAt(image, view, 635, 475), 0, 0, 255)) << format;
        EXPECT_TRUE(colourNear(pixelAt(image, view, 310, 240), 255, 0, 0)) << format;
        EXPECT_TRUE(colourNear(pixelAt(image, view, 330, 240), 0, 0, 255)) << format;
    }
}

TEST_F(RendererTest, FirstFrameNoticeHidesTheVideoUntilTheNextFrame) {
    Shown shown = show(320, 180);
    VideoView& view = *shown.view;
    // Before any frame: grey; the bar exists but is neither placed nor drawn.
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 160, 90), 64, 64, 64, 2));
    ASSERT_TRUE(view.controlBar());
    EXPECT_FALSE(view.controlBar()->barBound());

    deliver(*shown.video, makeFrame({}));
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 80, 90), 255, 0, 0));

    shown.video->streamRestarted();
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 80, 90), 64, 64, 64, 2));

    // The stream restarts with its old size: the next frame shows.
    deliver(*shown.video, makeFrame({.left = kBlue601Limited}));
    EXPECT_FALSE(shown.video->firstFrame());
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 80, 90), 0, 0, 255));
}

TEST_F(RendererTest, FramesAfterClosingNeverReachTheMainThread) {
    Shown shown = show(320, 180);
    shown.video->setBClosing(true);
    // The main thread does not run its event loop meanwhile: a frame that tried to reach it
    // would block its thread here.
    std::atomic<bool> done{false};
    std::thread decoder([&] {
        shown.video->pictureDecoded(makeFrame({}));
        done = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return done.load(); }));
    waitProcessingEvents([&] { return done.load(); });  // releases it if it did block
    decoder.join();
    EXPECT_EQ(shown.video->uploadedFrames(), 0u);
}

TEST_F(RendererTest, StatisticsPanelTogglesWithCtrlIAndLeavesTheBarUncovered) {
    Shown shown = show(640, 360);
    VideoView& view = *shown.view;
    deliver(*shown.video, makeFrame({}));
    const QImage plain = view.grabFramebuffer();
    VideoView::SessionFigures figures;
    figures.decoder.decodeMilliseconds = 2.5;
    figures.decoder.holdPictures = 1;
    figures.playbackFill = 0.5;
    view.setStatisticsSource([&] { return figures; });

    view.activateWindow();
    ASSERT_TRUE(waitProcessingEvents([&] { return view.isActiveWindow(); }));
    QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
    ASSERT_TRUE(view.statisticsShown());
    EXPECT_EQ(view.statisticsLines().front(), "picture   320 x 180");
    EXPECT_EQ(view.statisticsLines().back(), "sound     ring 50 %");
    const QImage withPanel = view.grabFramebuffer();
    // The panel darkens the video's top left corner; the bar's band looks as before.
    EXPECT_FALSE(colourNear(pixelAt(withPanel, view, 20, 20), 255, 0, 0, 60));
    for (int x = 10; x < 640; x += 40) {
        EXPECT_EQ(pixelAt(withPanel, view, x, 330), pixelAt(plain, view, x, 330)) << x;
    }
    QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
    EXPECT_FALSE(view.statisticsShown());
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 20, 20), 255, 0, 0));
}

TEST_F(RendererTest, BarIsDrawnOverTheVideoAndShowsTheStates) {
    Shown shown = show(640, 360);
    VideoView& view = *shown.view;
    // The bar draws the state its source gives at each drawing.
    CameraState state;
    state.alarm = true;
    view.setCameraStateSource([&] { return state; });
    deliver(*shown.video, makeFrame({}));
    const std::shared_ptr<ControlBar> bar = view.controlBar();
    ASSERT_TRUE(bar);
    ASSERT_TRUE(bar->barBound());
    EXPECT_EQ(*bar->barBound(), QRectF(-8, 10, 656, 50));

    // Button centres, in points from the top left: x = -8 + 64 + 88 i, y = 360 - 35.
    const auto buttonCentre = [](int button) { return QPointF(-8 + 64 + 88.0 * button, 325); };
    const auto shown_at = [&](int button) {
        const QPointF centre = buttonCentre(button);
        // The glyph's edge: the background of the round button, off its white symbol.
        return pixelAt(view.grabFramebuffer(), view, centre.x() - 18, centre.y() + 14);
    };
    // Over the red video, the bar darkens it.
    const QRgb flashOff = shown_at(0);
    EXPECT_FALSE(colourNear(flashOff, 255, 0, 0, 60));
    EXPECT_FALSE(colourNear(shown_at(2), 255, 0, 0, 60));  // alarm on
    // The right half of the video stays blue between the buttons.
    EXPECT_TRUE(colourNear(pixelAt(view.grabFramebuffer(), view, 625, 325), 0, 0, 255));

    const QRgb speakerOff = shown_at(1);
    state.screen = true;
    view.update();
    EXPECT_NE(shown_at(1), speakerOff);
    state.flash = true;
    EXPECT_NE(shown_at(0), flashOff);
}

TEST_F(RendererTest, ShaderFilesThatAreMissingAreLoggedAndTheProgramStillLinks) {
    Shown shown = show(100, 100);
    ASSERT_TRUE(shown.view->makeContextCurrent());
    ::testing::internal::CaptureStderr();
    {
        ShaderProgram program("shader.vsh", "shader-missing.fsh");
        EXPECT_TRUE(program.program());
        EXPECT_TRUE(program.linked());
        EXPECT_EQ(program.uniformVideo(), -1);
    }
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Unable to load shader-missing.fsh"), std::string::npos) << log;
    ShaderProgram video("shader.vsh", "shader.fsh");
    EXPECT_TRUE(video.linked());
    EXPECT_NE(video.uniformVideo(), -1);
    shown.view->doneCurrent();
}

TEST_F(RendererTest, TexturesFromImagesOfEightTwentyFourAndThirtyTwoBitsOnly) {
    Shown shown = show(100, 100);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Each image saved as a PNG of its format's depth; the expected texture format, 0 for none.
    const std::pair<QImage::Format, GLenum> cases[] = {
        {QImage::Format_Grayscale8, GL_RED}, {QImage::Format_Grayscale16, 0},
        {QImage::Format_RGB888, GL_RGB},     {QImage::Format_ARGB32, GL_RGBA},
        {QImage::Format_RGBA64, 0},          {QImage::Format_Indexed8, GL_RGB},
    };
    ASSERT_TRUE(shown.view->makeContextCurrent());
    for (const auto& [format, expected] : cases) {
        QImage image(5, 3, format);
        image.setColorTable({qRgb(200, 40, 10), qRgb(10, 40, 200)});  // for Indexed8 only
        image.fill(format == QImage::Format_Indexed8 ? 1u : 0xffffffffu);
        const QString path = folder.filePath(QString::number(format) + ".png");
        ASSERT_TRUE(image.save(path, "PNG"));
        const std::shared_ptr<ImageTexture> texture =
            ImageTexture::loadFromPath(path.toStdString());
        ASSERT_EQ(texture != nullptr, expected != 0) << format;
        if (texture) {
            EXPECT_EQ(texture->format(), expected) << format;
            EXPECT_EQ(texture->width(), 5u);
            EXPECT_EQ(texture->height(), 3u);
            EXPECT_NE(texture->textureId(), 0u);
        }
    }
    EXPECT_FALSE(ImageTexture::loadFromPath(folder.filePath("absent.png").toStdString()));
    EXPECT_TRUE(ImageTexture::loadFromFile("shutter.png"));
    shown.view->doneCurrent();

    // Broken headers are refused before anything is decoded.
    const uint8_t truncated[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13};
    EXPECT_FALSE(ImageTexture::pngBitsPerPixel(truncated));
    // An indexed image whose next chunk claims more bytes than there are.
    uint8_t indexed[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0,    0,   0,   13,  'I', 'H',
                         'D',  'R', 0,   0,   0,    1,    0,    0,    0,    1,   8,   3,   0,   0,
                         0,    0,   0,   0,   0,    0xff, 0xff, 0xff, 0xff, 'P', 'L', 'T', 'E'};
    EXPECT_EQ(ImageTexture::pngBitsPerPixel(indexed), 24);
}

}  // namespace
}  // namespace vistamo
