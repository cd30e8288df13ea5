#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/AudioEndpoint.h"
#include "media/PCMRecorderDelegate.h"

namespace vistamo {

class SDLAudio;
class SDLAudioDevice;

// One node of the recorder's ring.
struct CaptureChunk {
    static constexpr uint32_t kBytes = 1024;

    uint32_t channels = 1;
    // Fixed: every delivered chunk is a whole node.
    uint32_t byteSize = kBytes;
    std::array<uint8_t, kBytes> data{};
    // 1 while the node holds captured samples not yet delivered.
    uint8_t ready = 0;
};

// Captures the microphone for the intercom: signed 16-bit mono PCM at 48,000 Hz from the default
// input device, 512-frame buffers, delivered to the delegate in 1024-byte chunks. The capture
// callback writes each buffer into a ring of 6 nodes; a delivery thread hands the filled nodes
// on. A delivery thread that falls six nodes behind loses the oldest chunks.
//
// Threads:
// - `start`, `stop` and the destructor run on the owner's thread (the video controller's
//   "record queue"); any one thread at a time.
// - `recordingCallback` runs on SDL's audio thread (without a device: the caller's).
// - The delivery thread calls the delegate; it is started by the constructor and ended by the
//   destructor, which never leaves it touching a freed ring.
class PCMRecorder {
public:
    static constexpr size_t kRingNodes = 6;

    // Finds the default input device and opens it (paused), then starts the delivery thread.
    // When there is no input device, that is logged (once for the program) and the recorder
    // never delivers; `start` and `stop` still switch `isRecording`. With `AudioEndpoint::none`
    // no device is opened and the caller feeds `recordingCallback`.
    explicit PCMRecorder(AudioEndpoint input = AudioEndpoint::systemDefault);
    // Stops capture, closes the device and ends the delivery thread. It may run on the delivery
    // thread itself (when the delegate drops the last reference to the recorder's owner).
    ~PCMRecorder();

    PCMRecorder(const PCMRecorder&) = delete;
    PCMRecorder& operator=(const PCMRecorder&) = delete;

    void start();
    void stop();
    bool isRecording() const;

    void setDelegate(std::weak_ptr<PCMRecorderDelegate> delegate);

    // The input device's name, empty for SDL's default capture device.
    const std::string& inputID() const { return inputID_; }

    // The capture callback: `captured` holds `length` bytes that the device just recorded
    // (1024 with the recorder's format; more are cut at the node's size). SDL's audio thread
    // calls it; without a device, the owner may.
    void recordingCallback(const uint8_t* captured, int length);

private:
    // The ring and everything the delivery thread touches: shared with that thread, so that the
    // thread can end after the recorder is gone.
    struct Ring {
        // Guards the fields below; `dataReady` is signalled after each captured node and when
        // the thread is to end.
        std::mutex lock;
        std::condition_variable dataReady;
        std::array<CaptureChunk, kRingNodes> nodes;
        size_t chain_begin = 0;
        size_t chain_end = 0;
        bool bRecording = false;
        bool bQuit = false;
        std::weak_ptr<PCMRecorderDelegate> delegate;
    };

    void setupAudioUnit();
    void startDelivery();
    static void capture(Ring& ring, const uint8_t* captured, int length);
    static void sendPCMData(std::shared_ptr<Ring> ring);
    static void recordingTrampoline(void* userdata, uint8_t* stream, int length);

    // Set in the constructor, then read-only until the destructor.
    std::unique_ptr<SDLAudio> audio_;
    std::string inputID_;
    std::shared_ptr<Ring> ring_;
    std::thread deliveryThread_;

    // Guarded by `controlLock_`, which serialises `start`, `stop` and the destructor.
    std::mutex controlLock_;
    std::unique_ptr<SDLAudioDevice> inputAudioUnit;
};

}  // namespace vistamo
