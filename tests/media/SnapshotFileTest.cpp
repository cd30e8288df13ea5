// Snapshot names and images: the week-based date, the number, and colours that survive JPEG.
#include "media/SnapshotFile.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdlib>

#include "media/JpegEncoder.h"
#include "media/SyntheticFrame.h"

namespace vistamo {
namespace {

using namespace std::chrono;

constexpr WeekRules kSundayFirstWeekHoldsJanuary1{0, 1};
constexpr WeekRules kIso{1, 4};

TEST(SnapshotFile, NameHoldsTheWeekBasedDateAndAtLeastFourDigits) {
    EXPECT_EQ(snapshotFileName(snapshotDateText(2026y / March / 5, kIso), 7),
              "IMG202603050007.JPG");
    EXPECT_EQ(snapshotFileName("20260305", 0), "IMG202603050000.JPG");
    EXPECT_EQ(snapshotFileName("20260305", 123456), "IMG20260305123456.JPG");

    // The date carries the week-based year.
    // 1 January 2026 is a Thursday, in the week of Sunday 28 December 2025.
    EXPECT_EQ(snapshotDateText(2025y / December / 31, kSundayFirstWeekHoldsJanuary1), "20261231");
    EXPECT_EQ(snapshotDateText(2025y / December / 27, kSundayFirstWeekHoldsJanuary1), "20251227");
    EXPECT_EQ(snapshotDateText(2025y / December / 28, kSundayFirstWeekHoldsJanuary1), "20261228");
    // ISO weeks: 1 January 2027 is a Friday, so its week belongs to 2026.
    EXPECT_EQ(snapshotDateText(2027y / January / 1, kIso), "20260101");
    EXPECT_EQ(snapshotDateText(2027y / January / 4, kIso), "20270104");
    EXPECT_EQ(snapshotDateText(2027y / January / 1, kSundayFirstWeekHoldsJanuary1), "20270101");
    EXPECT_EQ(snapshotDateText(2026y / June / 15, kIso), "20260615");
}

struct Rgb {
    double r, g, b;
};

// The frame's colour as a JPEG decoder sees it, at the centre of the picture.
Rgb throughJpeg(const PixelBuffer& frame) {
    const auto jpeg = encodeJpeg(*frame, 95);
    EXPECT_TRUE(jpeg);
    if (!jpeg) {
        return {};
    }
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(handle, jpeg->data(), jpeg->size(), &width, &height, &subsampling,
                                  &colorspace),
              0);
    EXPECT_EQ(width, frame->width());
    EXPECT_EQ(height, frame->height());
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    EXPECT_EQ(tjDecompress2(handle, jpeg->data(), jpeg->size(), rgb.data(), width, width * 3,
                            height, TJPF_RGB, 0),
              0);
    tjDestroy(handle);
    const size_t centre = (static_cast<size_t>(height / 2) * width + width / 2) * 3;
    return {double(rgb[centre]), double(rgb[centre + 1]), double(rgb[centre + 2])};
}

// A frame of one R'G'B' colour in the given matrix and range.
PixelBuffer colourFrame(Rgb colour, AVColorSpace space, AVColorRange range, AVPixelFormat format) {
    const bool bt709 = space == AVCOL_SPC_BT709;
    const double kr = bt709 ? 0.2126 : 0.299;
    const double kb = bt709 ? 0.0722 : 0.114;
    const double r = colour.r / 255, g = colour.g / 255, b = colour.b / 255;
    const double y = kr * r + (1 - kr - kb) * g + kb * b;
    const double pb = (b - y) / (2 * (1 - kb));
    const double pr = (r - y) / (2 * (1 - kr));
    const bool full = range == AVCOL_RANGE_JPEG;
    const auto level = [](double value) { return static_cast<uint8_t>(std::lround(value)); };
    return test::makeSyntheticFrame({.width = 33,
                                     .height = 17,
                                     .format = format,
                                     .y = level(full ? 255 * y : 16 + 219 * y),
                                     .cb = level(128 + (full ? 255 : 224) * pb),
                                     .cr = level(128 + (full ? 255 : 224) * pr),
                                     .colorspace = space,
                                     .range = range});
}

TEST(SnapshotFile, JpegKeepsTheColoursOfEveryMatrixAndRange) {
    const Rgb colour{200, 60, 30};
    for (const auto& [space, range, format] :
         {std::tuple{AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV420P},
          std::tuple{AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV422P},
          std::tuple{AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG, AV_PIX_FMT_YUV444P},
          std::tuple{AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, AV_PIX_FMT_YUV420P}}) {
        const PixelBuffer frame = colourFrame(colour, space, range, format);
        ASSERT_TRUE(frame);
        const Rgb seen = throughJpeg(frame);
        EXPECT_NEAR(seen.r, colour.r, 6) << space << " " << range << " " << format;
        EXPECT_NEAR(seen.g, colour.g, 6) << space << " " << range << " " << format;
        EXPECT_NEAR(seen.b, colour.b, 6) << space << " " << range << " " << format;
    }
}

}  // namespace
}  // namespace vistamo
