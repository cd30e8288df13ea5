#pragma once

#include <memory>
#include <mutex>

#include "media/OpusPacketSink.h"
#include "media/PCMRecorderDelegate.h"

namespace vistamo {

class CameraSession;
class OpusCodec;
class PCMRecorder;

// The intercom's path from the microphone to the camera: each recorder chunk goes to the Opus
// encoder, each packet to the session (`sendOpus`). The video view controller makes it the
// delegate of its recorder and of its encoder, so that audio threads hold this link, never the
// controller.
//
// Threads: the recorder's delivery thread calls `getPCMData` and, through the encoder,
// `getOpusData`; the session is set on the main thread.
//
// Its source includes no Qt header: the encoder declares a member named `emit`, which Qt
// defines as a macro.
class IntercomLink final : public PCMRecorderDelegate, public OpusPacketSink {
public:
    // The encoder only encodes: it opens no output device.
    IntercomLink();
    ~IntercomLink() override;

    // Makes `link` the delegate of `recorder` and of its own encoder.
    static void attach(const std::shared_ptr<IntercomLink>& link, PCMRecorder& recorder);

    // Where the packets go from now on (none: nowhere). Main thread.
    void setSession(std::weak_ptr<CameraSession> session);

    void getPCMData(Bytes chunk) override;
    void getOpusData(Bytes packet) override;

private:
    // Set once at construction; encodes on the delivery thread only.
    const std::shared_ptr<OpusCodec> opus;

    std::mutex lock_;
    std::weak_ptr<CameraSession> session_;  // guarded by lock_
};

}  // namespace vistamo
