#pragma once

#include "platform/Bytes.h"

namespace vistamo {

// Receives the Opus packets that a codec encodes from microphone sound.
class OpusPacketSink {
public:
    virtual ~OpusPacketSink() = default;

    // Called on the thread that hands the codec its sound; the packet is the receiver's.
    // Default: the packet is dropped.
    virtual void getOpusData(Bytes /*packet*/) {}
};

}  // namespace vistamo
