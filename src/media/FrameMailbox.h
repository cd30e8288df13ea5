#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "media/PixelBuffer.h"

namespace vistamo {

namespace dispatch {
class Queue;
}

// Hands decoded pictures from the decoder's thread to the thread that draws them (the main
// queue) through one slot: the sender never waits, and a newer picture replaces one that has
// not been drawn yet, which counts as dropped. The drawing thread always gets the newest
// picture.
//
// Threads:
// - post and the counters: any thread (the decoder's).
// - draw runs on `target`, one picture at a time.
// - close: any thread; once it returns, draw is not running and never runs again. It waits
//   for a draw in progress, so it must not be called from a thread that draw waits for.
class FrameMailbox : public std::enable_shared_from_this<FrameMailbox> {
public:
    using Draw = std::function<void(const PixelBuffer&)>;

    static std::shared_ptr<FrameMailbox> create(dispatch::Queue& target, Draw draw);

    FrameMailbox(const FrameMailbox&) = delete;
    FrameMailbox& operator=(const FrameMailbox&) = delete;

    // Leaves `frame` for the drawing thread; returns at once. Empty frames are ignored.
    void post(PixelBuffer frame);

    // Drops the waiting picture and stops drawing.
    void close();

    // Pictures posted, drawn, and replaced before they were drawn.
    uint64_t posted() const { return posted_; }
    uint64_t drawn() const { return drawn_; }
    uint64_t dropped() const { return dropped_; }

    class Key {
        friend class FrameMailbox;
        Key() = default;
    };
    FrameMailbox(Key, dispatch::Queue& target, Draw draw);

private:
    void drawWaiting();

    dispatch::Queue& target_;
    const Draw draw_;

    // Guarded by slotLock_: the waiting picture and whether a drawWaiting is queued on target_.
    std::mutex slotLock_;
    PixelBuffer waiting_;
    bool queued_ = false;

    // Guarded by drawLock_, held while drawing.
    std::mutex drawLock_;
    bool closed_ = false;

    std::atomic<uint64_t> posted_{0};
    std::atomic<uint64_t> drawn_{0};
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace vistamo
