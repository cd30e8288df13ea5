#include "media/PCMRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "media/AudioSignals.h"
#include "support/Wait.h"

namespace vistamo {
namespace {

using test::constantBlock;

constexpr auto kPatience = std::chrono::seconds(10);

// Collects chunks. While `held`, the delivery thread stays inside the delegate call.
struct ChunkSink : PCMRecorderDelegate {
    void getPCMData(Bytes chunk) override {
        std::unique_lock guard(lock);
        chunks.push_back(std::move(chunk));
        changed.notify_all();
        changed.wait(guard, [&] { return !held; });
    }
    void setHeld(bool value) {
        std::lock_guard guard(lock);
        held = value;
        changed.notify_all();
    }
    std::vector<Bytes> waitFor(size_t count) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, kPatience, [&] { return chunks.size() >= count; });
        return chunks;
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<Bytes> chunks;
    bool held = false;
};

void capture(PCMRecorder& recorder, const Bytes& buffer) {
    recorder.recordingCallback(buffer.data(), static_cast<int>(buffer.size()));
}

TEST(PCMRecorderTest, DeliversWholeChunksInCaptureOrderWhileRecording) {
    PCMRecorder recorder(AudioEndpoint::none);
    auto sink = std::make_shared<ChunkSink>();
    recorder.setDelegate(sink);

    capture(recorder, constantBlock(1));  // not recording: dropped
    recorder.start();
    EXPECT_TRUE(recorder.isRecording());

    // Buffers captured while the delivery thread is busy go out together, in order.
    sink->setHeld(true);
    capture(recorder, constantBlock(2));
    ASSERT_EQ(sink->waitFor(1).size(), 1u);
    capture(recorder, constantBlock(3));
    capture(recorder, constantBlock(4, 100));   // short: the rest of the chunk is silence
    capture(recorder, constantBlock(5, 2000));  // long: cut at the chunk's end
    sink->setHeld(false);
    Bytes padded = constantBlock(4, 100);
    padded.resize(1024, 0);
    EXPECT_EQ(sink->waitFor(4),
              (std::vector{constantBlock(2), constantBlock(3), padded, constantBlock(5)}));

    // A failed capture, and captures between `stop` and `start`, deliver nothing.
    recorder.recordingCallback(nullptr, 1024);
    recorder.stop();
    EXPECT_FALSE(recorder.isRecording());
    capture(recorder, constantBlock(6));
    recorder.start();
    capture(recorder, constantBlock(7));
    const auto chunks = sink->waitFor(5);
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[4], constantBlock(7));
}

// The recorder's owner is its delegate, and its last reference goes away on the delivery
// thread, inside the delegate call.
TEST(PCMRecorderTest, CanBeReleasedFromItsOwnDelegate) {
    struct Owner : ChunkSink {
        ~Owner() override {
            recorder.reset();
            *destroyed = true;
        }
        std::unique_ptr<PCMRecorder> recorder;
        std::shared_ptr<std::atomic<bool>> destroyed = std::make_shared<std::atomic<bool>>();
    };
    auto owner = std::make_shared<Owner>();
    const auto destroyed = owner->destroyed;
    owner->recorder = std::make_unique<PCMRecorder>(AudioEndpoint::none);
    owner->recorder->setDelegate(owner);
    owner->recorder->start();
    owner->setHeld(true);
    capture(*owner->recorder, constantBlock(1));
    ASSERT_EQ(owner->waitFor(1).size(), 1u);
    Owner* const held = owner.get();
    owner.reset();  // the delivery thread holds the last reference now
    held->setHeld(false);
    EXPECT_TRUE(test::waitUntil([&] { return destroyed->load(); }));
}

}  // namespace
}  // namespace vistamo
