// The decoder on real streams made by libx264: what it shows, in which order, and when; and its
// reorder ring, stop and destruction, driven with synthetic pictures through setBuffer.
#include "media/H264Decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <vector>

#include "media/SnapshotFile.h"
#include "media/SyntheticFrame.h"
#include "platform/AtomicFile.h"
#include "support/TempHome.h"
#include "support/TestStream.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::frameRange;
using test::TestPicture;
using test::TestStream;

// Records what the decoder shows: the frame number drawn into each picture (or -1 for an empty
// delivery) and its size. Synthetic pictures, too small for a drawn number, carry theirs in
// their first byte.
class FrameRecorder : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer& frame) override {
        std::lock_guard lock(mutex_);
        if (!frame) {
            numbers_.push_back(-1);
            return;
        }
        numbers_.push_back(frame->height() < 16
                               ? frame->plane(0)[0]
                               : test::readFrameNumber(frame->plane(0), frame->stride(0),
                                                       frame->width(), frame->height()));
        sizes_.emplace_back(frame->width(), frame->height());
    }

    std::vector<int> numbers() const {
        std::lock_guard lock(mutex_);
        return numbers_;
    }
    std::vector<std::pair<int, int>> sizes() const {
        std::lock_guard lock(mutex_);
        return sizes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> numbers_;
    std::vector<std::pair<int, int>> sizes_;
};

constexpr int32_t kRef = H264Decoder::kFrameTypeReference;
constexpr int32_t kNonRef = H264Decoder::kFrameTypeNonReference;

// A 4 x 4 synthetic picture carrying `id`.
PixelBuffer picture(int id, test::FreeCounter* counter = nullptr) {
    return test::makeSyntheticFrame(
        {.width = 4, .height = 4, .y = static_cast<uint8_t>(id), .counter = counter});
}

TestStream encode(int frames, bool bFrames, int slices = 1, int keyInterval = 250) {
    return test::encodeTestStream({.width = 192,
                                   .height = 64,
                                   .frames = frames,
                                   .bFrames = bFrames,
                                   .keyInterval = keyInterval,
                                   .slices = slices,
                                   .scalingMatrices = slices == 2});
}

// A fresh home folder, for the snapshots.
class DecoderPipeline : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        restart();
    }

    // A new decoder and recorder, as a new connection gets.
    void restart() {
        recorder = std::make_shared<FrameRecorder>();
        decoder = std::make_shared<H264Decoder>();
        decoder->addPictureSink(recorder);
        decoder->start();
    }

    // One picture at a time, as a camera's pace allows: a decoder that falls behind drops
    // pictures.
    void send(const TestPicture& picture) {
        if (picture.slices.size() == 1) {
            decoder->decodeFrame(picture.slices[0]);
        } else {
            for (const auto& slice : picture.slices) {
                decoder->decodeTwoSlicePicture(slice);
            }
        }
        decoder->waitForAsynchronousFrames();
    }

    std::vector<int> shown() {
        decoder->waitForAsynchronousFrames();
        return recorder->numbers();
    }

    size_t snapshotCount() const { return entryCount(home_ / "Pictures" / "vistamo+"); }

    std::shared_ptr<FrameRecorder> recorder;
    std::shared_ptr<H264Decoder> decoder;
};

TEST_F(DecoderPipeline, HoldsPicturesOnlyWhenTheStreamReorders) {
    // Without B pictures each picture is shown as it is decoded. With them (stream order
    // I0 P2 B1 P4 B3 ..., the B pictures not referenced) a reference picture waits for the one
    // B picture shown before it.
    for (const bool bFrames : {false, true}) {
        const TestStream stream = encode(9, bFrames);
        ASSERT_EQ(stream.pictures[2].frameNumber, bFrames ? 1 : 2);
        restart();
        ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
        EXPECT_EQ(decoder->frame_width(), 192);
        EXPECT_EQ(decoder->frame_height(), 64);
        const size_t hold = bFrames ? 1 : 0;
        for (size_t i = 0; i < stream.pictures.size(); ++i) {
            send(stream.pictures[i]);
            EXPECT_EQ(recorder->numbers().size(), i + 1 - hold) << "after picture " << i;
        }
        EXPECT_EQ(decoder->holdPictures(), static_cast<int32_t>(hold));
        EXPECT_EQ(recorder->numbers(), frameRange(0, 9 - static_cast<int>(hold)));
    }
}

TEST_F(DecoderPipeline, EverySinkSeesEveryPictureAndHearsOfANewStreamBeforeItsPictures) {
    // A second reader of the picture (as a webcam or a grid tile would be) beside the window's:
    // both get each picture once, in order; one removed or gone gets nothing more, and adding
    // a sink twice does not deliver twice.
    class MarkingRecorder : public FrameRecorder {
    public:
        void streamRestarted() override { pictureDecoded(nullptr); }
    };
    auto second = std::make_shared<MarkingRecorder>();
    auto third = std::make_shared<FrameRecorder>();
    decoder->addPictureSink(second);
    decoder->addPictureSink(second);
    decoder->addPictureSink(third);
    const TestStream stream = encode(6, false);
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    for (size_t i = 0; i < 3; ++i) {
        send(stream.pictures[i]);
    }
    decoder->removePictureSink(third.get());
    decoder->streamRestarted();
    std::weak_ptr<FrameRecorder> gone = recorder;
    recorder.reset();
    for (size_t i = 3; i < stream.pictures.size(); ++i) {
        send(stream.pictures[i]);
    }
    EXPECT_TRUE(gone.expired());
    // -1: the new-stream notice, between the pictures before it and those after.
    EXPECT_EQ(second->numbers(), (std::vector<int>{0, 1, 2, -1, 3, 4, 5}));
    EXPECT_EQ(third->numbers(), frameRange(0, 3));
}

TEST_F(DecoderPipeline, FallingBehindDropsWholePicturesUntilTheNextIdrPicture) {
    // The decoder's thread is held up in its first delivery while the whole stream arrives.
    struct Stalling : FrameRecorder {
        void pictureDecoded(const PixelBuffer& frame) override {
            std::unique_lock lock(gate);
            opened.wait(lock, [this] { return open; });
            lock.unlock();
            FrameRecorder::pictureDecoded(frame);
        }
        std::mutex gate;
        std::condition_variable opened;
        bool open = false;
    };
    auto stalling = std::make_shared<Stalling>();
    decoder->removePictureSink(recorder.get());
    decoder->addPictureSink(stalling);
    const TestStream stream = encode(40, true, 1, 10);
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    for (const auto& picture : stream.pictures) {
        decoder->decodeFrame(picture.slices[0]);
    }
    {
        std::lock_guard lock(stalling->gate);
        stalling->open = true;
    }
    stalling->opened.notify_all();
    decoder->waitForAsynchronousFrames();

    const std::vector<int> numbers = stalling->numbers();
    ASSERT_GT(decoder->droppedPictures(), 0u);
    EXPECT_EQ(numbers.size() + decoder->droppedPictures() + decoder->holdPictures(), 40u)
        << "every picture not shown is counted ";
    // Nothing decoded against a dropped reference: every picture shown is whole and in order.
    for (size_t i = 0; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << "at " << i;
        if (i > 0) {
            ASSERT_GT(numbers[i], numbers[i - 1]) << "at " << i;
        }
    }
}

TEST_F(DecoderPipeline, GroupsLongerThanTheRingOrRestartedWrapTheRingInOrder) {
    // One group of 60 pictures: decode orders run past the ring's 25 slots. Groups of 20, each
    // with its parameter sets: the display position passes from slot 24 to slot 0 in the second.
    for (const bool resend : {false, true}) {
        const TestStream stream = encode(60, true, 1, resend ? 20 : 250);
        restart();
        ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
        for (const auto& picture : stream.pictures) {
            if (resend && picture.idr) {
                ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
            }
            send(picture);
        }
        EXPECT_EQ(recorder->numbers(), frameRange(0, 59))
            << (resend ? "groups of 20" : "one group");
    }
}

TEST_F(DecoderPipeline, IdenticalParameterSetsKeepTheDecoderButRestartTheDecodeOrder) {
    const TestStream stream = encode(10, false);
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    for (int i = 0; i < 5; ++i) {
        send(stream.pictures[i]);
    }
    EXPECT_EQ(decoder->decoder_order(), 5);
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    EXPECT_EQ(decoder->decoder_order(), 0);
    // The P pictures that follow refer to pictures decoded before: only the same decoder can
    // decode them.
    for (int i = 5; i < 10; ++i) {
        send(stream.pictures[i]);
    }
    EXPECT_EQ(decoder->decoder_order(), 5);
    EXPECT_EQ(shown(), frameRange(0, 10));
}

TEST_F(DecoderPipeline, NewParameterSetsShowTheOldGroupToItsEndThenTheNewOne) {
    const TestStream first = encode(10, true);
    const TestStream second = test::encodeTestStream({.width = 256, .height = 96, .frames = 10});

    ASSERT_TRUE(decoder->acceptFormatDesc(first.sps, first.pps));
    for (const auto& picture : first.pictures) {
        send(picture);
    }
    ASSERT_TRUE(decoder->acceptFormatDesc(second.sps, second.pps));
    EXPECT_EQ(decoder->frame_width(), 256);
    EXPECT_EQ(decoder->frame_height(), 96);
    for (const auto& picture : second.pictures) {
        send(picture);
    }
    std::vector<int> expected = frameRange(0, 10);
    const std::vector<int> rest = frameRange(0, 10);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(shown(), expected);
    const auto sizes = recorder->sizes();
    ASSERT_EQ(sizes.size(), 20u);
    EXPECT_EQ(sizes[9], std::make_pair(192, 64));
    EXPECT_EQ(sizes[10], std::make_pair(256, 96));
}

TEST_F(DecoderPipeline, TwoSlicePictureIsDecodedOnceAsOneSample) {
    const TestStream stream = encode(9, true, 2);
    ASSERT_EQ(stream.pictures[2].slices.size(), 2u);
    ASSERT_EQ(stream.pictures[2].slices[0][4], 0x01);

    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    send(stream.pictures[0]);
    decoder->decodeTwoSlicePicture(stream.pictures[1].slices[0]);
    decoder->waitForAsynchronousFrames();
    EXPECT_EQ(decoder->decoder_order(), 1) << "a first slice alone is held back";
    decoder->decodeTwoSlicePicture(stream.pictures[1].slices[1]);
    EXPECT_EQ(decoder->decoder_order(), 2);
    for (size_t i = 2; i < stream.pictures.size(); ++i) {
        send(stream.pictures[i]);
    }
    EXPECT_EQ(decoder->decoder_order(), 9);
    // The B pictures, typed by their first slice, come before the P pictures decoded before.
    EXPECT_EQ(shown(), frameRange(0, 8));
}

TEST_F(DecoderPipeline, SecondSliceOutgrowingItsRoomStillCompletesThePicture) {
    // The packet started from a first slice keeps room for a second of about the size seen so
    // far; second slices padded with zero words, each four times longer than the last, must
    // still join their first ones.
    TestStream stream = encode(4, true, 2);
    size_t largest = 0;
    for (const auto& picture : stream.pictures) {
        largest = std::max({largest, picture.slices[0].size(), picture.slices[1].size()});
    }
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    size_t padding = 4 * largest;
    for (auto& picture : stream.pictures) {
        Bytes& second = picture.slices[1];
        padding *= 4;
        for (size_t i = 0; i < padding; i += 3) {
            second.insert(second.end(), {0x00, 0x00, 0x03});
        }
        send(picture);
    }
    EXPECT_EQ(decoder->decoder_order(), 4);
    EXPECT_EQ(shown(), frameRange(0, 3));
}

TEST_F(DecoderPipeline, UnitsThatAreNotSlicesChangeNothing) {
    const TestStream stream = encode(6, false);
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    for (int i = 0; i < 3; ++i) {
        send(stream.pictures[i]);
    }
    const std::vector<Bytes> others = {
        {},                                    // nothing
        {0, 0, 0, 1},                          // a prefix alone
        {0, 0, 0, 1, 0x06, 0x05, 0x01, 0x80},  // SEI
        {0, 0, 0, 1, 0x09, 0xF0},              // access unit delimiter
        stream.sps,
        stream.pps,
        {0, 0, 0, 1, 0x0C, 0xFF, 0xFF},  // filler
    };
    for (const Bytes& unit : others) {
        decoder->decodeFrame(unit);
        decoder->decodeTwoSlicePicture(unit);
    }
    EXPECT_EQ(decoder->decoder_order(), 3);
    EXPECT_EQ(shown(), frameRange(0, 3));
    // Nothing was held as a first slice: the next single-slice picture goes on as before.
    for (int i = 3; i < 6; ++i) {
        send(stream.pictures[i]);
    }
    EXPECT_EQ(decoder->decoder_order(), 6);
    EXPECT_EQ(shown(), frameRange(0, 6));
}

std::string todayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::chrono::year_month_day date{
        std::chrono::year{local.tm_year + 1900},
        std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
        std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
    return snapshotDateText(date, localeWeekRules());
}

TEST_F(DecoderPipeline, NextShownPictureIsWrittenAsJpegAtItsDecodedSize) {
    // 200 x 120, cropped from 208 x 128 coded.
    const TestStream stream =
        test::encodeTestStream({.width = 200, .height = 120, .frames = 8, .bFrames = true});
    ASSERT_TRUE(decoder->acceptFormatDesc(stream.sps, stream.pps));
    for (int i = 0; i < 3; ++i) {
        send(stream.pictures[i]);
    }
    const std::string before = todayText();
    decoder->takePicture(7);
    for (size_t i = 3; i < stream.pictures.size(); ++i) {
        send(stream.pictures[i]);
    }
    const std::string after = todayText();

    const auto folder = home_ / "Pictures" / "vistamo+";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u) << "one request, one file";
    const std::string name = files[0].filename().string();
    EXPECT_TRUE(name == "IMG" + before + "0007.JPG" || name == "IMG" + after + "0007.JPG") << name;

    const auto jpeg = readWholeFile(files[0], 1 << 22);
    ASSERT_TRUE(jpeg);
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    ASSERT_EQ(tjDecompressHeader3(handle, jpeg->data(), jpeg->size(), &width, &height, &subsampling,
                                  &colorspace),
              0);
    EXPECT_EQ(width, 200);  // the cropped size, as the decoder reports it
    EXPECT_EQ(height, 120);
    EXPECT_EQ(decoder->frame_width(), 200);
    EXPECT_EQ(decoder->frame_height(), 120);
    // The picture shown after the request: frame 2 (frames 0 and 1 were shown before).
    std::vector<uint8_t> gray(static_cast<size_t>(width) * height);
    ASSERT_EQ(tjDecompress2(handle, jpeg->data(), jpeg->size(), gray.data(), width, width, height,
                            TJPF_GRAY, 0),
              0);
    tjDestroy(handle);
    EXPECT_EQ(test::readFrameNumber(gray.data(), width, width, height), 2);
}

using Ring = DecoderPipeline;

// Decode order I0 P2 B1 P4 B3 P6: once the B pictures start the hold of one, P6 waits in the
// ring for a picture that never comes.
const std::vector<std::pair<int, int32_t>> kReordered = {{0, kRef}, {2, kRef},    {1, kNonRef},
                                                         {4, kRef}, {3, kNonRef}, {6, kRef}};

TEST_F(Ring, DestroyingTheDecoderReleasesEachPictureOnceWhetherShownOrHeld) {
    // Without a sink the pictures are let go in display order as with one, and a sink added
    // later gets no backlog.
    decoder->removePictureSink(recorder.get());
    std::vector<test::FreeCounter> counters(kReordered.size());
    for (size_t i = 0; i < kReordered.size(); ++i) {
        decoder->setBuffer(picture(kReordered[i].first, &counters[i]), static_cast<int32_t>(i + 1),
                           kReordered[i].second);
    }
    decoder->addPictureSink(recorder);
    decoder->setBuffer(picture(5), 7, kNonRef);
    EXPECT_EQ(recorder->numbers(), (std::vector<int>{5}));
    const size_t held = kReordered.size() - 1;
    for (size_t i = 0; i < counters.size(); ++i) {
        EXPECT_EQ(counters[i].frees, i == held ? 0 : 1) << "picture " << kReordered[i].first;
    }
    decoder.reset();
    for (const auto& counter : counters) {
        EXPECT_EQ(counter.frees, 1);
    }
}

TEST_F(Ring, AfterStopInputIsIgnoredAndTheRingIsEmptiedLater) {
    // 320 x 240, baseline.
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x05, 0x07, 0xE4};
    const Bytes pps = {0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80};
    const Bytes slice = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    ASSERT_TRUE(decoder->acceptFormatDesc(sps, pps));
    decoder->decodeFrame(slice);
    ASSERT_EQ(decoder->decoder_order(), 1);
    decoder->waitForAsynchronousFrames();
    test::FreeCounter counter;
    for (size_t i = 0; i < kReordered.size(); ++i) {
        decoder->setBuffer(picture(kReordered[i].first, &counter), static_cast<int32_t>(i + 1),
                           kReordered[i].second);
    }
    ASSERT_EQ(counter.frees, static_cast<int>(kReordered.size()) - 1);

    const auto stopped = std::chrono::steady_clock::now();
    decoder->stop();
    EXPECT_FALSE(decoder->isRunning());
    EXPECT_FALSE(decoder->acceptFormatDesc(sps, pps));
    decoder->decodeFrame(slice);
    decoder->decodeTwoSlicePicture(slice);
    decoder->decodeTwoSlicePicture(slice);
    EXPECT_EQ(decoder->decoder_order(), 1);
    ASSERT_TRUE(
        test::waitUntil([&] { return counter.frees == static_cast<int>(kReordered.size()); }));
    EXPECT_GE(std::chrono::steady_clock::now() - stopped,
              std::chrono::duration<double>(H264Decoder::kReleaseDelaySeconds));
}

TEST_F(Ring, FirstNonReferencePictureStartsAHoldOfOneWithoutSkippingOrRepeating) {
    // No sequence set says how far the stream reorders.
    const auto& stream = kReordered;
    for (size_t i = 0; i < stream.size(); ++i) {
        decoder->setBuffer(picture(stream[i].first), static_cast<int32_t>(i + 1), stream[i].second);
    }
    EXPECT_EQ(decoder->holdPictures(), 1);
    // P2 was shown before B1 arrived; from there on B pictures come before their P picture.
    EXPECT_EQ(recorder->numbers(), (std::vector<int>{0, 2, 1, 3, 4}));
}

TEST_F(Ring, SnapshotRequestIsServedByTheNextShownPictureOnce) {
    decoder->setBuffer(picture(1), 1, kRef);
    decoder->takePicture(5);
    // Decode order 2 failed to decode: its slot is passed over.
    decoder->setBuffer(picture(3), 3, kRef);
    EXPECT_EQ(recorder->numbers(), (std::vector<int>{1, 3}));
    EXPECT_EQ(snapshotCount(), 1u);
    decoder->setBuffer(picture(4), 4, kRef);
    EXPECT_EQ(snapshotCount(), 1u) << "a request is served once";
}

}  // namespace
}  // namespace vistamo
