#pragma once

#include <chrono>

#include "media/PCMPlayer.h"

namespace vistamo {

// What tests change in a player: the program-wide starvation counters, the clock that
// timestamps starvation, and how long a render call waits for a block.
class PCMPlayerTestAccess {
public:
    static void resetUnderrunCounters() {
        PCMPlayer::lastUnderrunTime = 0.0;
        PCMPlayer::underrunCount = 0;
        PCMPlayer::steadyCount = 0;
    }
    static void setClock(PCMPlayer& player, double (*clock)()) { player.clock_ = clock; }
    static void setUnderrunWait(PCMPlayer& player, std::chrono::microseconds wait) {
        player.underrunWait_ = wait;
    }
};

}  // namespace vistamo
