#include "media/PreEventRing.h"

namespace vistamo {

namespace {

bool isStart(const RecordedSample& sample) {
    return sample.kind == RecordedSample::Kind::video && sample.keyFrame && sample.format;
}

}  // namespace

PreEventRing::PreEventRing(double keepSeconds, size_t maxBytes)
    : keepSeconds_(keepSeconds), maxBytes_(maxBytes) {}

void PreEventRing::push(RecordedSample sample) {
    if (samples_.empty() && !isStart(sample)) {
        return;  // nothing before the first key frame can be played
    }
    const double now = sample.arrivalSeconds;
    bytes_ += sample.cost();
    samples_.push_back(std::move(sample));
    // Drop the oldest group while the next one still begins early enough.
    for (;;) {
        size_t next = 1;
        while (next < samples_.size() && !isStart(samples_[next])) {
            ++next;
        }
        if (next == samples_.size()) {
            break;
        }
        const bool oldEnough = samples_[next].arrivalSeconds <= now - keepSeconds_;
        if (!oldEnough && bytes_ <= maxBytes_) {
            break;
        }
        for (size_t i = 0; i < next; ++i) {
            dropFront();
        }
    }
    if (bytes_ > maxBytes_) {
        // A single group beyond the bound: no start is left to keep.
        while (!samples_.empty()) {
            dropFront();
        }
    }
}

void PreEventRing::dropFront() {
    bytes_ -= samples_.front().cost();
    samples_.pop_front();
}

std::vector<RecordedSample> PreEventRing::contentsFrom(double since) const {
    size_t first = 0;
    for (size_t i = 0; i < samples_.size() && samples_[i].arrivalSeconds <= since; ++i) {
        if (isStart(samples_[i])) {
            first = i;
        }
    }
    return std::vector<RecordedSample>(samples_.begin() + static_cast<std::ptrdiff_t>(first),
                                       samples_.end());
}

}  // namespace vistamo
