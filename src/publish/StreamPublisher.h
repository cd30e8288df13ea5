#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Queue.h"
#include "dispatch/SerialQueue.h"
#include "media/H264ParameterSets.h"
#include "media/StreamSink.h"
#include "platform/ReconnectPolicy.h"
#include "settings/PublishSettings.h"

namespace vistamo {

// Publishes one camera's stream to a media server, as received: the H.264 pictures with their
// parameter sets and the Opus packets, never decoded or encoded again, over RTSP (TCP). It is a
// sink of the camera's session; publishing begins at the next key frame.
//
// It never holds the session back: connecting and writing run on a serial queue of its own,
// and what waits for that queue is bounded (`maxBacklogBytes`); past it, pictures are dropped
// up to the next key frame and counted. A server that cannot be reached, or that goes away, is
// tried again after the waits of ReconnectPolicy (at its longest wait once the policy would
// give up), at a key frame; a server that refuses, or does not accept the user and password, is
// not tried again.
//
// Threads:
// - The StreamSink calls come from the session's queue (one thread at a time).
// - `status`, `statistics` and `stop` may be called from any thread.
// - `onStatus` runs on `callbackQueue`, possibly after the publisher is gone.
// - The connection, the time stamps and the retry policy belong to the publisher's queue.
// Lifecycle: `create` starts the queue; `stop` (or the destructor) ends publishing: what waits
// for the queue is dropped, the picture being written goes out whole and the server hears
// goodbye, unless it keeps the publisher waiting longer than kStopGraceSeconds (then the wait
// is broken); the queue then finishes by itself.
class StreamPublisher final : public StreamSink,
                              public std::enable_shared_from_this<StreamPublisher> {
public:
    enum class State {
        // Waiting for the stream's next key frame to connect with.
        starting,
        connecting,
        publishing,
        // The server could not be reached or went away; another try follows.
        retrying,
        // The server said no; no further try.
        refused,
        stopped,
    };
    struct Status {
        State state = State::starting;
        // "host[:port]/path", never the user or password.
        std::string server;
        // Why it is retrying or refused.
        std::string reason;
        // The words for the line over the picture; empty while starting or once stopped.
        std::string line() const;
    };
    struct Statistics {
        uint64_t bytesSent = 0;
        uint64_t picturesSent = 0;
        uint64_t soundsSent = 0;
        // Pictures left out because the server did not keep up.
        uint64_t picturesDropped = 0;
    };

    struct Options {
        std::string cameraName;
        PublishAddress address;
        // Where `onStatus` runs; the main queue when none.
        std::shared_ptr<dispatch::Queue> callbackQueue;
        std::function<void(const Status&)> onStatus;
        // What may wait for the publisher's queue before pictures are dropped.
        size_t maxBacklogBytes = 8 * 1024 * 1024;
        // How long a connection attempt or a write may wait on the server.
        double ioTimeoutSeconds = 5;
        // Seconds on a steady clock, any thread; the real one when none.
        std::function<double()> clock;
        // The waits between tries; the real policy when none.
        std::function<ReconnectPolicy()> makePolicy;
        // For measuring: on the publisher's queue after each picture went out, with the time
        // it was received.
        std::function<void(double arrivalSeconds)> pictureSent;
    };

    static constexpr double kStopGraceSeconds = 1.0;

    static std::shared_ptr<StreamPublisher> create(Options options);
    ~StreamPublisher() override;

    StreamPublisher(const StreamPublisher&) = delete;
    StreamPublisher& operator=(const StreamPublisher&) = delete;

    void stop();
    Status status() const;
    Statistics statistics() const;

    // StreamSink, on the session's queue.
    void parameterSets(ByteView sps, ByteView pps) override;
    void picture(const std::vector<ByteView>& units, bool keyFrame,
                 std::optional<double> cameraSeconds) override;
    void sound(ByteView opusPacket) override;
    void streamRestarted() override;

private:
    struct Writer;
    explicit StreamPublisher(Options options);
    double now() const;
    void send(struct RecordedSample sample);

    // Set at construction.
    const Options options_;
    std::shared_ptr<dispatch::SerialQueue> queue_;
    std::shared_ptr<Writer> writer_;
    // Shared with the queue: bytes handed to it and not yet sent, and when `stop` was called
    // (seconds on the steady clock; 0 before).
    std::shared_ptr<std::atomic<size_t>> backlogBytes_;
    std::shared_ptr<std::atomic<double>> stoppedAt_;

    // The session's queue only.
    std::shared_ptr<const H264ParameterSets> format_;
    bool dropping_ = false;
};

}  // namespace vistamo
