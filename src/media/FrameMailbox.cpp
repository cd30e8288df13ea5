#include "media/FrameMailbox.h"

#include "dispatch/Queue.h"

namespace vistamo {

std::shared_ptr<FrameMailbox> FrameMailbox::create(dispatch::Queue& target, Draw draw) {
    return std::make_shared<FrameMailbox>(Key(), target, std::move(draw));
}

FrameMailbox::FrameMailbox(Key, dispatch::Queue& target, Draw draw)
    : target_(target), draw_(std::move(draw)) {}

void FrameMailbox::post(PixelBuffer frame) {
    if (!frame) {
        return;
    }
    ++posted_;
    bool queue = false;
    {
        std::lock_guard lock(slotLock_);
        if (waiting_) {
            ++dropped_;
        }
        waiting_ = std::move(frame);
        queue = !queued_;
        queued_ = true;
    }
    if (queue) {
        target_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->drawWaiting();
            }
        });
    }
}

void FrameMailbox::drawWaiting() {
    PixelBuffer frame;
    {
        std::lock_guard lock(slotLock_);
        frame = std::move(waiting_);
        waiting_.reset();
        queued_ = false;
    }
    std::lock_guard lock(drawLock_);
    if (frame && !closed_) {
        draw_(frame);
        ++drawn_;
    }
}

void FrameMailbox::close() {
    {
        std::lock_guard lock(drawLock_);
        closed_ = true;
    }
    std::lock_guard lock(slotLock_);
    waiting_.reset();
}

}  // namespace vistamo
