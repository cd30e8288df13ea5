#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/SoundSink.h"
#include "webcam/PipeWireConnection.h"
#include "webcam/WebcamVideoNode.h"

struct pw_stream;
struct spa_hook;

namespace vistamo {

// One camera's sound as a PipeWire microphone: an audio source node at 48,000 Hz, mono, 16-bit,
// fed by the session's codec as a sound sink. What the camera sends waits in a short queue
// until the graph asks for it; when the queue runs dry (a camera connecting again, a late
// packet) the node gives silence, and starts again with the newest `kStartFrames` once that much
// has gathered. Sound that nobody reads does not pile up: at `kMaxQueuedFrames` the older half
// goes.
//
// Threads:
// - soundDecoded: the session's queue; touches only the queue (`queueLock_`).
// - The stream is made and destroyed with the loop locked; its callbacks run on the loop's
//   thread.
class WebcamSoundNode final : public SoundSink {
public:
    static constexpr int kSampleRate = 48000;
    // 200 ms at most waits; 40 ms gathers before the node gives sound after silence.
    static constexpr size_t kMaxQueuedFrames = kSampleRate / 5;
    static constexpr size_t kStartFrames = kSampleRate / 25;

    WebcamSoundNode(std::shared_ptr<PipeWireConnection> connection, WebcamNodeNames names);
    // Takes the node away. Not on the loop's thread.
    ~WebcamSoundNode() override;

    WebcamSoundNode(const WebcamSoundNode&) = delete;
    WebcamSoundNode& operator=(const WebcamSoundNode&) = delete;

    // Takes 48,000 Hz sound of any channel count (mixed down to mono); other rates are dropped
    // with one log line.
    void soundDecoded(std::span<const int16_t> samples, int sampleRate, int channels) override;

    // Frames given to PipeWire with sound, and frames of silence given for want of it.
    uint64_t soundFrames() const;
    uint64_t silentFrames() const;

private:
    friend struct WebcamSoundCallbacks;
    // Loop thread.
    void process();
    // Moves up to `count` queued frames to `out`; what is missing becomes silence.
    void take(int16_t* out, size_t count);

    const std::shared_ptr<PipeWireConnection> connection_;

    // Guarded by queueLock_: a ring of kMaxQueuedFrames samples.
    mutable std::mutex queueLock_;
    std::vector<int16_t> ring_ = std::vector<int16_t>(kMaxQueuedFrames);
    size_t head_ = 0;
    size_t count_ = 0;
    bool flowing_ = false;
    bool otherRateReported_ = false;
    uint64_t soundFrames_ = 0;
    uint64_t silentFrames_ = 0;

    // Made and destroyed with the loop locked.
    pw_stream* stream_ = nullptr;
    std::unique_ptr<spa_hook> listener_;
};

}  // namespace vistamo
