#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/PictureSink.h"
#include "webcam/PipeWireConnection.h"

struct pw_stream;
struct spa_source;
struct spa_hook;
struct spa_pod;

namespace vistamo {

// How a webcam node shows itself to other programs.
struct WebcamNodeNames {
    std::string nodeName;     // stable for one camera ("node.name")
    std::string description;  // for people ("node.description")
};

// One camera's picture as a PipeWire camera: a video source node (I420 at the picture's size and
// the stream's frame rate) fed by the decoder as one more picture sink. The decoder never waits:
// the newest picture replaces one not yet taken, and is copied once into a free PipeWire buffer
// on the loop's thread as soon as it comes; the graph's driver (a sound card, or PipeWire's own
// timer) takes it at its next cycle. The node drives nothing itself, so that the microphone
// beside it keeps the graph's steady clock. The node appears once the first pictures have shown the
// frame rate; a new picture size renegotiates the format. When the camera sends nothing (it
// connects again) the last picture is sent again every `kRepeatInterval`, so that readers keep
// their device.
//
// Threads:
// - pictureDecoded: the decoder's thread; it touches only the slot (`slotLock_`) and wakes the
//   loop.
// - Everything else of the stream (the fields under "loop thread") runs on the connection's
//   loop thread, or with its lock held while the node is made and destroyed.
// - The counters: any thread.
class WebcamVideoNode final : public PictureSink {
public:
    static constexpr std::chrono::milliseconds kRepeatInterval{500};
    // Pictures whose spacing gives the announced frame rate.
    static constexpr int kRateSamples = 6;

    // Called on the loop's thread for each picture queued to PipeWire, with how long it took
    // from the end of its decoding.
    using QueuedObserver = std::function<void(std::chrono::nanoseconds sinceDecoded)>;

    WebcamVideoNode(std::shared_ptr<PipeWireConnection> connection, WebcamNodeNames names,
                    QueuedObserver observer = {});
    // Takes the node away. Not on the loop's thread.
    ~WebcamVideoNode() override;

    WebcamVideoNode(const WebcamVideoNode&) = delete;
    WebcamVideoNode& operator=(const WebcamVideoNode&) = delete;

    void pictureDecoded(const PixelBuffer& frame) override;

    // Pictures queued to PipeWire (repeats included), and pictures replaced before they were
    // taken. Any thread.
    uint64_t queued() const;
    uint64_t replaced() const;

private:
    friend struct WebcamVideoCallbacks;

    // Loop thread: the loop's and the stream's callbacks.
    void wake();
    void repeatTick();
    void formatChanged(const spa_pod* format);
    // Sends the waiting picture when a buffer is free; also at every cycle of the graph, which
    // may have freed one.
    void process();
    void stateChanged(int state);

    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };

    void connectStream(Size size);
    void offerFormat(Size size);
    // Copies `picture` into a free buffer and queues it; false when no buffer is free.
    bool send(const PixelBuffer& picture);

    const std::shared_ptr<PipeWireConnection> connection_;
    const WebcamNodeNames names_;
    const QueuedObserver observer_;

    // Guarded by slotLock_.
    mutable std::mutex slotLock_;
    PixelBuffer waiting_;
    uint64_t queued_ = 0;
    uint64_t replaced_ = 0;
    std::vector<std::chrono::steady_clock::time_point> rateSamples_;

    // Loop thread (made and destroyed with the loop locked).
    spa_source* wakeEvent_ = nullptr;
    spa_source* repeatTimer_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<spa_hook> listener_;
    int framesPerSecond_ = 0;
    Size offered_;
    Size negotiated_;
    bool streaming_ = false;
    PixelBuffer last_;
    std::chrono::steady_clock::time_point lastQueuedAt_;
    std::chrono::steady_clock::time_point lastArrivalAt_;
    uint64_t sequence_ = 0;
};

}  // namespace vistamo
