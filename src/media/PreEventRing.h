#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "media/RecordedSample.h"

namespace vistamo {

// The camera's last pictures and sound, kept so that a clip can begin before the alarm that
// started it. The ring always begins with a key frame that carries its parameter sets: it
// keeps the newest key frame at least `keepSeconds` old and everything after it, so it holds
// at least `keepSeconds` once the camera has sent that much, and at most that plus one group
// of pictures. A camera that never sends a key frame leaves it empty; more than `maxBytes`
// drops the oldest groups.
//
// Not thread-safe: one thread (the recorder's caller) uses it.
class PreEventRing {
public:
    PreEventRing(double keepSeconds, size_t maxBytes);

    void push(RecordedSample sample);
    // What was held from the newest key frame received at or before `since` (from the oldest
    // one when none was), oldest first.
    std::vector<RecordedSample> contentsFrom(double since) const;
    void setKeepSeconds(double keepSeconds) { keepSeconds_ = keepSeconds; }
    bool empty() const { return samples_.empty(); }

private:
    void dropFront();

    double keepSeconds_;
    size_t maxBytes_;
    size_t bytes_ = 0;
    std::deque<RecordedSample> samples_;
};

}  // namespace vistamo
