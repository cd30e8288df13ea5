// The pure geometry of the video view: the bar's hit test and placement, the button quads,
// the letterboxed viewport and the Y'CbCr to R'G'B' conversion.
#include "video/ControlBarGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "video/VideoGeometry.h"

namespace vistamo {
namespace {

TEST(ControlBarGeometryTest, HitTestAtScaleOne) {
    const QRectF bar(100, 10, 656, 50);
    struct Case {
        QPointF point;
        bool inBand;
        int button;
    };
    const Case cases[] = {
        {{150, 30}, true, 0},    // first button
        {{130, 30}, true, -1},   // the gap before it
        {{140, 30}, true, -1},   // the gap's last pixel
        {{141, 30}, true, 0},    // the button's first
        {{700, 30}, true, 6},    // shutter
        {{228, 30}, true, -1},   // gap before the second button: cells are 88 wide
        {{229, 30}, true, 1},    //
        {{800, 30}, true, -1},   // right of the last button, past a gap: no eighth button
        {{1000, 30}, true, -1},  // far right
        {{50, 30}, true, -1},    // left of the bar
        {{-300, 30}, true, -1},  //
        {{150, 11}, false, -1},  // the band's lower limit is 10 + sv
        {{150, 11.5}, true, 0},  //
        {{150, 61}, false, -1},  // and its upper one 10 + sv + 50 sv
        {{150, 60.9}, true, 0},  //
        {{150, 5}, false, -1},   // below the bar
    };
    for (const Case& c : cases) {
        const BarHit hit = hitTestBar(bar, c.point);
        EXPECT_EQ(hit.inBand, c.inBand) << c.point.x() << "," << c.point.y();
        EXPECT_EQ(hit.button, c.button) << c.point.x() << "," << c.point.y();
    }
}

TEST(ControlBarGeometryTest, HitTestAtScaleTwo) {
    const QRectF bar(144, 10, 1312, 100);
    // Band 12 < y < 112.
    EXPECT_FALSE(hitTestBar(bar, {300, 12}).inBand);
    EXPECT_TRUE(hitTestBar(bar, {300, 12.5}).inBand);
    EXPECT_FALSE(hitTestBar(bar, {300, 112}).inBand);
    // Cells 176 wide, each opened by an 80-pixel gap.
    for (int button = 0; button < BUTTONS; ++button) {
        const double cellStart = 144 + 176.0 * button;
        EXPECT_EQ(hitTestBar(bar, {cellStart + 80, 50}).button, -1) << button;
        EXPECT_EQ(hitTestBar(bar, {cellStart + 81, 50}).button, button) << button;
        EXPECT_EQ(hitTestBar(bar, {cellStart + 175, 50}).button, button) << button;
    }
    EXPECT_EQ(hitTestBar(bar, {144 + 176.0 * 7 + 100, 50}).button, -1);
}

TEST(ControlBarGeometryTest, BarPlacementAndButtonQuad) {
    const QRectF origin(0, 0, BAR_WIDTH, BAR_HEIGHT);
    EXPECT_EQ(barBoundFor(origin, 1600, 2), QRectF(144, 10, 1312, 100));
    EXPECT_EQ(barBoundFor(origin, 640, 1), QRectF(-8, 10, 656, 50));

    // The last button spans 568..616 of 656 bar units, its image upright: the bottom of the
    // quad shows the image's last row.
    const VideoScreen quad = buttonQuad(6);
    EXPECT_FLOAT_EQ(quad.v2.position.x, 568.0f / 328.0f - 1.0f);
    EXPECT_FLOAT_EQ(quad.v1.position.y, -0.96f);
    EXPECT_EQ(quad.v2.texture.ty, 1.0f);
    EXPECT_EQ(quad.v4.texture.ty, 0.0f);
    EXPECT_FLOAT_EQ(buttonQuad(6).v1.position.x, 616.0f / 328.0f - 1.0f);
}

TEST(VideoGeometryTest, ViewportLetterboxesAndPillarboxes) {
    const auto wide = videoViewport(1600, 900, 4.0f / 3.0f);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->x, 200);
    EXPECT_EQ(wide->y, 0);
    EXPECT_FLOAT_EQ(wide->w, 1200);
    EXPECT_FLOAT_EQ(wide->h, 900);

    const auto square = videoViewport(801, 801, 16.0f / 9.0f);
    ASSERT_TRUE(square);
    EXPECT_EQ(square->x, 0);
    EXPECT_EQ(square->y, 175);  // (801 - 450.5625) / 2, truncated
    EXPECT_FLOAT_EQ(square->w, 801);
    EXPECT_FLOAT_EQ(square->h, 801 * 9.0f / 16.0f);

    const auto exact = videoViewport(1280, 720, 1280.0f / 720.0f);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->x, 0);
    EXPECT_EQ(exact->y, 0);

    for (float ratio :
         {0.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(videoViewport(1600, 900, ratio)) << ratio;
    }
    EXPECT_FALSE(videoViewport(0, 0, 1.5f));
}

// Encodes R'G'B' with the standard forward equations, quantises to 8 bits, and checks that the
// shader's conversion brings the colour back.
TEST(VideoGeometryTest, YuvConversionInvertsTheEncoding) {
    struct Rgb {
        double r, g, b;
    };
    const Rgb colours[] = {{1, 0, 0}, {0, 1, 0},       {0, 0, 1},      {1, 1, 1},
                           {0, 0, 0}, {0.5, 0.5, 0.5}, {0.2, 0.6, 0.9}};
    for (YuvMatrix matrix : {YuvMatrix::BT601, YuvMatrix::BT709}) {
        const double kr = matrix == YuvMatrix::BT709 ? 0.2126 : 0.299;
        const double kb = matrix == YuvMatrix::BT709 ? 0.0722 : 0.114;
        for (YuvRange range : {YuvRange::Limited, YuvRange::Full}) {
            const YuvConversion conversion = yuvConversion(matrix, range);
            for (const Rgb& c : colours) {
                const double y = kr * c.r + (1 - kr - kb) * c.g + kb * c.b;
                const double cb = (c.b - y) / (2 * (1 - kb));
                const double cr = (c.r - y) / (2 * (1 - kr));
                const bool limited = range == YuvRange::Limited;
                const double samples[3] = {
                    std::round(limited ? 16 + 219 * y : 255 * y),
                    std::round(128 + (limited ? 224 : 255) * cb),
                    std::round(128 + (limited ? 224 : 255) * cr),
                };
                double rgb[3] = {0, 0, 0};
                for (int column = 0; column < 3; ++column) {
                    const double value =
                        std::min(samples[column], 255.0) / 255.0 - conversion.offset[column];
                    for (int row = 0; row < 3; ++row) {
                        rgb[row] += conversion.matrix[column * 3 + row] * value;
                    }
                }
                const double expected[3] = {c.r, c.g, c.b};
                for (int channel = 0; channel < 3; ++channel) {
                    EXPECT_NEAR(std::clamp(rgb[channel], 0.0, 1.0), expected[channel], 0.02)
                        << "matrix " << static_cast<int>(matrix) << " range "
                        << static_cast<int>(range) << " colour " << c.r << "," << c.g << "," << c.b
                        << " channel " << channel;
                }
            }
        }
    }
}

}  // namespace
}  // namespace vistamo
