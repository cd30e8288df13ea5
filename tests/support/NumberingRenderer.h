#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "media/PictureSink.h"
#include "support/TestStream.h"

namespace vistamo::test {

// Keeps the frame number drawn in every delivered picture (see encodeTestStream), with the
// time it came. The decoder's thread delivers; any thread reads.
class NumberingRenderer : public PictureSink {
public:
    using Clock = std::chrono::steady_clock;
    struct Shown {
        int number;
        Clock::time_point at;
    };
    void pictureDecoded(const PixelBuffer& frame) override {
        const int number =
            readFrameNumber(frame->plane(0), frame->stride(0), frame->width(), frame->height());
        std::lock_guard guard(lock_);
        shown_.push_back({number, Clock::now()});
    }
    std::vector<Shown> shown() const {
        std::lock_guard guard(lock_);
        return shown_;
    }
    std::vector<int> numbers() const {
        std::lock_guard guard(lock_);
        std::vector<int> numbers;
        for (const Shown& each : shown_) {
            numbers.push_back(each.number);
        }
        return numbers;
    }
    size_t count() const {
        std::lock_guard guard(lock_);
        return shown_.size();
    }

private:
    mutable std::mutex lock_;
    std::vector<Shown> shown_;
};

}  // namespace vistamo::test
