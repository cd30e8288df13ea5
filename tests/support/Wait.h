#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vistamo::test {

// Polls `done` until it holds or `limit` passes; returns whether it held. The limit only bounds
// a wait for something that must happen; it is never a speed requirement.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace vistamo::test
