#pragma once

#include "platform/Bytes.h"

namespace vistamo {

// Receives the microphone's sound from a recorder.
class PCMRecorderDelegate {
public:
    virtual ~PCMRecorderDelegate() = default;

    // One 1024-byte chunk (512 samples, signed 16-bit, mono, 48,000 Hz, host byte order) in
    // capture order, on the recorder's delivery thread, with no lock of the recorder held: the
    // receiver may start, stop or release the recorder from here. The chunk is the receiver's.
    // Default: the chunk is dropped.
    virtual void getPCMData(Bytes /*chunk*/) {}
};

}  // namespace vistamo
