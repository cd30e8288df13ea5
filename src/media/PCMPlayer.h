#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace vistamo {

class SDLAudioDevice;

// One node of the player's ring.
struct PlaybackBuffer {
    uint32_t channels = 1;
    // Queued bytes; 0 means the node is free.
    uint32_t byteSize = 0;
    std::unique_ptr<uint8_t[]> data;
    // Bytes allocated at `data` (0 when it has none).
    uint64_t capacity = 0;
};

// Plays a camera's sound: signed 16-bit mono PCM at 48,000 Hz, handed in as blocks (1024 bytes
// from the Opus codec). Blocks wait in a ring of nodes, 11 at first, that grows by one node
// after repeated starvation of the output (up to 51) and shrinks by one after long steady
// playback. Each `start` fades the sound in over the next 463 blocks.
//
// Threads:
// - `playData` runs on the producer's thread (the session's "Client Queue").
// - `start`, `stop`, `configAudio` and the volume run on the owner's thread (the main thread).
// - `playbackCallback` runs on SDL's audio thread; it may wait up to 25 ms for a block.
// The ring is shared by the producer and the audio thread under `cond`.
class PCMPlayer {
public:
    static constexpr size_t kInitialNodes = 11;
    static constexpr uint64_t kMaxAdditionalNodes = 40;
    static constexpr uint64_t kNodeBytes = 1024;

    // Builds the ring; no device is open until `configAudio`.
    PCMPlayer();
    // Closes the device (waiting for its callback to return), then frees the ring.
    ~PCMPlayer();

    PCMPlayer(const PCMPlayer&) = delete;
    PCMPlayer& operator=(const PCMPlayer&) = delete;

    // Opens the default output device for 48,000 Hz signed 16-bit mono in 512-frame buffers,
    // paused, with `playbackCallback`. `sampleRate` is the rate wanted of the hardware (48000.0);
    // SDL chooses that itself. Without any output device the player stays silent: that is
    // logged once for the program.
    void configAudio(double sampleRate);

    // Accepts blocks from now on, fading in from gain 0.01. The device starts with the first
    // block.
    void start();
    // Stops accepting blocks, stops the device and empties the ring.
    void stop();

    // Queues one block of `length` bytes (at most one output buffer, 1024 bytes). Dropped
    // before `start`; when the ring is full the oldest queued block makes way.
    void playData(const uint8_t* data, uint64_t length);

    void setVolume(float volume);
    float getVolume() const;

    // The render callback: fills `stream` (`length` bytes) from the ring; what no block
    // covers is silence. SDL's audio thread calls it; without a device, the owner may.
    void playbackCallback(uint8_t* stream, int length);

    // A consistent view of the ring, for diagnostics and tests.
    struct RingState {
        size_t nodes = 0;
        // Nodes from `chain_begin` up to `chain_end`.
        size_t queuedBlocks = 0;
        uint64_t additionalChainNumber = 0;
        // `chain_begin` = `chain_end`, and that node is free.
        bool empty = true;
        bool bError = false;
    };
    RingState ringState() const;

    // The starvation counters, one set for the whole program, shared by every player.
    struct UnderrunCounters {
        double lastUnderrunTime = 0.0;  // seconds since 1970; 0 means none
        int32_t underrunCount = 0;
        int32_t steadyCount = 0;
    };
    static UnderrunCounters underrunCounters();

    // Output buffers this player filled with silence because no block came in time, since it
    // was made. Any thread.
    uint64_t starvedBuffers() const { return starvedBuffers_; }

private:
    std::atomic<uint64_t> starvedBuffers_{0};

    // Tests reach the counters, the clock and the starvation wait through it.
    friend class PCMPlayerTestAccess;

    using Node = std::list<PlaybackBuffer>::iterator;

    // The following run with `condLock_` held.
    Node nextNode(Node node);
    bool ringIsEmpty() const;
    void recordUnderrun();
    void growRing();
    void shrinkRing();
    size_t copyQueuedBlocks(uint8_t* stream, size_t length);

    static void playbackTrampoline(void* userdata, uint8_t* stream, int length);

    // Program-wide and touched by every player's audio thread without a lock, as plain
    // counters; each field is atomic, so they never tear.
    static std::atomic<double> lastUnderrunTime;
    static std::atomic<int32_t> underrunCount;
    static std::atomic<int32_t> steadyCount;

    // Guarded by `stateLock_`, held across all of `playData`, `start`, `stop` and
    // `configAudio`, so that a block never restarts the device behind a `stop`.
    std::mutex stateLock_;
    std::unique_ptr<SDLAudioDevice> audioUnit;
    bool bPlayback = false;
    bool bStart = false;

    // Guarded by `condLock_`: the ring, the gain and the error flag. `cond` is signalled when
    // a block arrives or playback stops.
    mutable std::mutex condLock_;
    std::condition_variable cond;
    std::list<PlaybackBuffer> ring_;
    Node chain_begin;
    Node chain_end;
    uint64_t additionalChainNumber = 0;
    float Volume = 0.8f;
    bool bError = false;

    // Set before the first callback; tests change them.
    double (*clock_)();
    std::chrono::microseconds underrunWait_{25000};
};

}  // namespace vistamo
