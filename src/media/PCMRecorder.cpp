#include "media/PCMRecorder.h"

#include <SDL.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <vector>

#include "media/MicrophoneSettings.h"
#include "media/SDLAudio.h"
#include "media/SDLAudioDevice.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr uint32_t kBufferFrames = 512;
constexpr double kSampleRate = 48000.0;

// A program without any input device says so once, not at every camera window.
void logNoInputDevice(const std::string& why) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        logLine("error: no audio input device (" + why + "); the intercom stays silent");
    }
}

}  // namespace

PCMRecorder::PCMRecorder(AudioEndpoint input) : ring_(std::make_shared<Ring>()) {
    if (input == AudioEndpoint::none) {
        startDelivery();
        return;
    }
    // The subsystem reference comes first: the device questions need SDL's audio running.
    audio_ = std::make_unique<SDLAudio>();
    inputID_ = MicrophoneSettings::defaultInputDevice();
    setupAudioUnit();
}

PCMRecorder::~PCMRecorder() {
    stop();
    {
        // Closing waits for a running capture callback, so none touches the ring after this.
        std::lock_guard control(controlLock_);
        inputAudioUnit.reset();
    }
    {
        std::lock_guard guard(ring_->lock);
        ring_->bQuit = true;
    }
    ring_->dataReady.notify_all();
    if (deliveryThread_.joinable()) {
        if (deliveryThread_.get_id() == std::this_thread::get_id()) {
            // Released from inside the delegate: the thread sees `bQuit` once the delegate
            // returns, and its own reference keeps the ring until it has ended.
            deliveryThread_.detach();
        } else {
            deliveryThread_.join();
        }
    }
}

void PCMRecorder::setupAudioUnit() {
    if (!audio_->running()) {
        logNoInputDevice(audio_->error());
        return;
    }
    // SDL gives a device its buffer size and rate as it opens it, so these come first.
    AudioInputDevice device{inputID_, 0, kSampleRate};
    MicrophoneSettings::setInputBufferFrames(device, kBufferFrames);
    MicrophoneSettings::setSampleRateForDeviceID(device, {kSampleRate, kSampleRate});

    SDL_AudioSpec desired{};
    desired.freq = static_cast<int>(device.sampleRate);
    desired.format = AUDIO_S16SYS;
    desired.channels = 1;
    desired.samples = static_cast<uint16_t>(device.bufferFrameSize);
    desired.callback = &PCMRecorder::recordingTrampoline;
    desired.userdata = ring_.get();
    std::string error;
    auto unit = SDLAudioDevice::open(SDLAudioDevice::Direction::capture, inputID_, desired, error);
    if (!unit) {
        logNoInputDevice(error);
        return;
    }
    {
        std::lock_guard control(controlLock_);
        inputAudioUnit = std::move(unit);
    }
    startDelivery();
}

void PCMRecorder::startDelivery() {
    try {
        deliveryThread_ = std::thread(&PCMRecorder::sendPCMData, ring_);
    } catch (const std::system_error& failure) {
        logLine(std::string("error: cannot start the intercom delivery thread: ") + failure.what());
    }
}

void PCMRecorder::start() {
    std::lock_guard control(controlLock_);
    {
        std::lock_guard guard(ring_->lock);
        if (ring_->bRecording) {
            return;
        }
        ring_->bRecording = true;
    }
    if (inputAudioUnit) {
        inputAudioUnit->resume();
    }
}

void PCMRecorder::stop() {
    std::lock_guard control(controlLock_);
    {
        std::lock_guard guard(ring_->lock);
        if (!ring_->bRecording) {
            return;
        }
        ring_->bRecording = false;
    }
    if (inputAudioUnit) {
        inputAudioUnit->pause();
    }
}

bool PCMRecorder::isRecording() const {
    std::lock_guard guard(ring_->lock);
    return ring_->bRecording;
}

void PCMRecorder::setDelegate(std::weak_ptr<PCMRecorderDelegate> delegate) {
    std::lock_guard guard(ring_->lock);
    ring_->delegate = std::move(delegate);
}

void PCMRecorder::recordingCallback(const uint8_t* captured, int length) {
    capture(*ring_, captured, length);
}

void PCMRecorder::recordingTrampoline(void* userdata, uint8_t* stream, int length) {
    capture(*static_cast<Ring*>(userdata), stream, length);
}

void PCMRecorder::capture(Ring& ring, const uint8_t* captured, int length) {
    std::lock_guard guard(ring.lock);
    // The producer does not look whether this node still waits for delivery.
    CaptureChunk& node = ring.nodes[ring.chain_end];
    node.data.fill(0);
    const bool rendered = captured != nullptr && length > 0;
    if (rendered) {
        std::memcpy(node.data.data(), captured,
                    std::min<size_t>(static_cast<size_t>(length), node.data.size()));
    }
    if (rendered && ring.bRecording) {
        node.ready = 1;
        ring.chain_end = (ring.chain_end + 1) % kRingNodes;
        ring.dataReady.notify_one();
    }
}

void PCMRecorder::sendPCMData(std::shared_ptr<Ring> ring) {
    pthread_setname_np(pthread_self(), "PCMRecorder");
    std::vector<Bytes> chunks;
    std::unique_lock guard(ring->lock);
    while (true) {
        ring->dataReady.wait(guard,
                             [&] { return ring->bQuit || ring->nodes[ring->chain_begin].ready; });
        if (ring->bQuit) {
            return;
        }
        auto take = [&](CaptureChunk& node) {
            chunks.emplace_back(node.data.begin(), node.data.begin() + node.byteSize);
            node.ready = 0;
        };
        while (ring->chain_begin != ring->chain_end) {
            take(ring->nodes[ring->chain_begin]);
            ring->chain_begin = (ring->chain_begin + 1) % kRingNodes;
        }
        // The ring was full (`chain_begin` = `chain_end`): that node once, without advancing.
        if (ring->nodes[ring->chain_begin].ready) {
            take(ring->nodes[ring->chain_begin]);
        }
        // The chunks are copies, so the delegate runs without the lock and capture never
        // waits for it.
        auto delegate = ring->delegate.lock();
        guard.unlock();
        if (delegate) {
            for (auto& chunk : chunks) {
                delegate->getPCMData(std::move(chunk));
            }
        }
        chunks.clear();
        delegate.reset();  // may be the last reference to the recorder's owner
        guard.lock();
    }
}

}  // namespace vistamo
