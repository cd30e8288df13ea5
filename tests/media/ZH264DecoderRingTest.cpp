// The reorder ring, stop and destruction, driven with synthetic pictures through setBuffer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <vector>

#include "media/SyntheticFrame.h"
#include "media/ZH264Decoder.h"
#include "support/TempHome.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

constexpr int32_t kRef = ZH264Decoder::kFrameTypeReference;
constexpr int32_t kNonRef = ZH264Decoder::kFrameTypeNonReference;

PixelBuffer picture(int id, test::FreeCounter* counter = nullptr) {
    test::SyntheticFrameOptions options;
    options.width = 4;
    options.height = 4;
    options.y = static_cast<uint8_t>(id);
    options.counter = counter;
    return test::makeSyntheticFrame(options);
}

// The ids of the pictures shown.
class IdRecorder : public ZH264DecoderDelegate {
public:
    void render(const PixelBuffer& frame) override {
        std::lock_guard lock(mutex_);
        ids_.push_back(frame ? frame->plane(0)[0] : -1);
    }
    std::vector<int> ids() const {
        std::lock_guard lock(mutex_);
        return ids_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> ids_;
};

class Ring : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        decoder->setDelegate(recorder);
        decoder->start();
    }

    size_t snapshotCount() const {
        const auto folder = home_ / "Pictures" / "vistamo+";
        std::error_code error;
        size_t count = 0;
        for (auto it = std::filesystem::directory_iterator(folder, error);
             !error && it != std::filesystem::directory_iterator(); ++it) {
            ++count;
        }
        return count;
    }

    std::shared_ptr<IdRecorder> recorder = std::make_shared<IdRecorder>();
    std::shared_ptr<ZH264Decoder> decoder = std::make_shared<ZH264Decoder>();
};

TEST_F(Ring, DestroyingTheDecoderReleasesEachHeldPictureOnce) {
    decoder->setDelegate({});  // nothing is delivered: the ring fills up
    std::vector<test::FreeCounter> counters(ZH264Decoder::kRingSlots);
    for (int order = 1; order <= ZH264Decoder::kRingSlots; ++order) {
        decoder->setBuffer(picture(order, &counters[order - 1]), order, kRef);
    }
    for (const auto& counter : counters) {
        EXPECT_EQ(counter.frees, 0);
    }
    decoder.reset();
    for (const auto& counter : counters) {
        EXPECT_EQ(counter.frees, 1);
    }
}

TEST_F(Ring, AfterStopInputIsIgnoredAndTheRingIsEmptiedLater) {
    decoder->setDelegate({});
    test::FreeCounter counter;
    for (int order = 1; order <= 5; ++order) {
        decoder->setBuffer(picture(order, &counter), order, kRef);
    }
    // 320 x 240, baseline.
    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x05, 0x07, 0xE4};
    const Bytes pps = {0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80};
    const Bytes slice = {0, 0, 0, 1, 0x65, 0x88, 0x84};
    ASSERT_TRUE(decoder->acceptFormatDesc(sps, pps));
    decoder->decompressFrame(slice);
    ASSERT_EQ(decoder->decoder_order(), 1);

    const auto stopped = std::chrono::steady_clock::now();
    decoder->stop();
    EXPECT_FALSE(decoder->isRunning());
    EXPECT_FALSE(decoder->acceptFormatDesc(sps, pps));
    decoder->decompressFrame(slice);
    decoder->decodeFrameWidthMultipleSlice(slice);
    decoder->decodeFrameWidthMultipleSlice(slice);
    EXPECT_EQ(decoder->decoder_order(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return counter.frees == 5; }));
    EXPECT_GE(std::chrono::steady_clock::now() - stopped,
              std::chrono::duration<double>(ZH264Decoder::kReleaseDelaySeconds));
}

TEST_F(Ring, FirstNonReferencePictureStartsAHoldOfOneWithoutSkippingOrRepeating) {
    // No sequence set says how far the stream reorders: decode order I0 P2 B1 P4 B3 P6.
    const std::vector<std::pair<int, int32_t>> stream = {{0, kRef}, {2, kRef},    {1, kNonRef},
                                                         {4, kRef}, {3, kNonRef}, {6, kRef}};
    for (size_t i = 0; i < stream.size(); ++i) {
        decoder->setBuffer(picture(stream[i].first), static_cast<int32_t>(i + 1), stream[i].second);
    }
    EXPECT_EQ(decoder->holdPictures(), 1);
    // P2 was shown before B1 arrived; from there on B pictures come before their P picture.
    EXPECT_EQ(recorder->ids(), (std::vector<int>{0, 2, 1, 3, 4}));
}

TEST_F(Ring, SnapshotRequestIsServedByTheNextShownPictureOnce) {
    decoder->setBuffer(picture(1), 1, kRef);
    decoder->takePicture(5);
    // Decode order 2 failed to decode: its slot is passed over.
    decoder->setBuffer(picture(3), 3, kRef);
    EXPECT_EQ(recorder->ids(), (std::vector<int>{1, 3}));
    EXPECT_EQ(snapshotCount(), 1u);
    decoder->setBuffer(picture(4), 4, kRef);
    EXPECT_EQ(snapshotCount(), 1u) << "a request is served once";
}

}  // namespace
}  // namespace vistamo
