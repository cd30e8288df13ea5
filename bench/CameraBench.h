#pragma once

// For the benchmarks that stream from test cameras, headless or (built with the Qt side, under
// an X display) into camera views.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "media/PictureSink.h"
#include "media/PixelBuffer.h"

#ifdef VISTAMO_BENCH_WINDOWS
#include "support/qt/QtWait.h"
#endif

namespace vistamo::bench {

// A renderer that only counts the pictures it is handed. Any thread.
class CountingRenderer : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer&) override { ++shown; }
    std::atomic<uint64_t> shown{0};
};

// Waits, with the Qt event loop running in windowed mode.
inline void pause(std::chrono::milliseconds duration, bool windowed) {
#ifdef VISTAMO_BENCH_WINDOWS
    if (windowed) {
        const auto until = std::chrono::steady_clock::now() + duration;
        test::waitProcessingEvents([&] { return std::chrono::steady_clock::now() >= until; },
                                   duration + std::chrono::seconds(5));
        return;
    }
#endif
    (void)windowed;
    std::this_thread::sleep_for(duration);
}

}  // namespace vistamo::bench
