#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Bytes.h"

namespace vistamo::test {

// A loopback TCP relay between a viewer and a camera that makes the link misbehave on command:
// each direction can be throttled to a bit rate, stalled, given extra bytes, and every
// connection can be cut with a reset or an orderly close. The viewer connects to port(); for
// every connection accepted the relay connects on to the camera's port, so a viewer may connect
// again and again.
//
// Bytes keep their order in each direction: a chunk read from one side is written to the other
// only while the link is not stalled, and no faster than its throttle allows. The relay holds at
// most kMaxQueuedBytes per direction (or what it is given) and stops reading beyond that, so a
// throttled or stalled link pushes back on the sender as a slow network does.
//
// Threads: the relay's own thread owns the sockets and the queued bytes; every public method may
// be called from any thread. Settings, counters and queues are guarded by `lock_`; the thread
// takes it around each round of its loop, never while it waits in poll.
class FaultRelay {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;
    static constexpr size_t kMaxQueuedBytes = 4 << 20;

    enum class Direction { toCamera, toViewer };
    enum class Cut {
        reset,  // SO_LINGER 0: both ends see a reset
        close,  // shutdown and close: both ends see an orderly end of stream
    };

    // Relays to `cameraPort` on the loopback address, holding at most `maxQueuedBytes` per
    // direction; throws std::runtime_error when it cannot listen.
    explicit FaultRelay(uint16_t cameraPort, size_t maxQueuedBytes = kMaxQueuedBytes);
    ~FaultRelay();
    FaultRelay(const FaultRelay&) = delete;
    FaultRelay& operator=(const FaultRelay&) = delete;

    uint16_t port() const { return port_; }

    // At most this many bits per second in `direction`; 0 to stop throttling.
    void setThrottle(Direction direction, uint64_t bitsPerSecond);
    // Holds back everything in both directions until resume, or for `duration`.
    void stall();
    void stall(Duration duration);
    void resume();
    // Bytes that were never sent by either end, placed into `direction` of the current
    // connections (or of the next one when none is open) before the next whole message of the
    // stream (24-byte headers whose first 8 bytes give the message's length).
    void inject(Direction direction, Bytes bytes);
    // Ends every open connection, at both ends.
    void cut(Cut how);

    // Bytes written on in each direction, over all connections, injected bytes included.
    uint64_t bytesRelayed(Direction direction) const;
    // Connections accepted so far, and those open now.
    size_t connectionsAccepted() const;
    size_t openConnections() const;
    // Injections still waiting for their place.
    size_t pendingInjections() const;

private:
    struct Chunk {
        Bytes bytes;
        size_t sent = 0;
    };
    // Follows the camera's message framing through the bytes of one direction.
    struct Framing {
        uint8_t header[8] = {};
        size_t headerBytes = 0;  // of the current header, 0 to 24
        uint64_t bodyLeft = 0;
        bool lost = false;  // a length that cannot be: no more boundaries are known
        bool atBoundary() const { return !lost && headerBytes == 0 && bodyLeft == 0; }
        // Offset of the first boundary in `bytes` after consuming them up to it, or none.
        size_t consumeToBoundary(const uint8_t* bytes, size_t size);
    };
    struct Pipe {
        int from = -1;
        int to = -1;
        std::deque<Chunk> queue;
        size_t queuedBytes = 0;
        bool sourceEnded = false;
        bool shutDown = false;  // the end of stream was passed on
        double tokens = 0;
        Clock::time_point refilled = Clock::now();
        Framing framing;
    };
    struct Connection {
        int viewer = -1;
        int camera = -1;
        Pipe pipes[2];
        bool dead = false;
    };

    void run();
    void acceptOne(Clock::time_point now);
    void readInto(Connection& connection, int index);
    void writeFrom(Connection& connection, int index, Clock::time_point now);
    void placeInjections(Connection& connection, int index);
    void enqueue(Pipe& pipe, const uint8_t* bytes, size_t size);
    void end(Connection& connection, Cut how);
    void wake();

    int listener_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    uint16_t cameraPort_ = 0;
    size_t maxQueuedBytes_ = kMaxQueuedBytes;

    mutable std::mutex lock_;
    // Guarded by lock_.
    bool stopping_ = false;
    uint64_t bitsPerSecond_[2] = {};
    Clock::time_point stalledUntil_ = Clock::time_point::min();
    std::vector<Bytes> injections_[2];
    uint64_t relayed_[2] = {};
    size_t accepted_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;

    std::thread thread_;
};

}  // namespace vistamo::test
