#pragma once

#include <memory>
#include <utility>

#include "dispatch/Queue.h"

namespace vistamo::dispatch {

// Runs `work(target)` later on `queue`, if the target still exists by then. For work that an
// object posts to its own queue without keeping itself alive.
template <typename Target, typename Work>
void asyncIfAlive(Queue& queue, std::weak_ptr<Target> target, Work work) {
    queue.async([target = std::move(target), work = std::move(work)]() mutable {
        if (const auto alive = target.lock()) {
            work(*alive);
        }
    });
}

// Runs `call(receiver, sender)` later on `queue`, if both still exist by then: a callback from
// an object to its weakly held delegate, which neither keeps the other alive.
template <typename Sender, typename Receiver, typename Call>
void deliverIfAlive(Queue& queue, std::weak_ptr<Sender> sender, std::weak_ptr<Receiver> receiver,
                    Call call) {
    queue.async([sender = std::move(sender), receiver = std::move(receiver),
                 call = std::move(call)]() mutable {
        const auto from = sender.lock();
        const auto to = receiver.lock();
        if (from && to) {
            call(*to, from);
        }
    });
}

}  // namespace vistamo::dispatch
