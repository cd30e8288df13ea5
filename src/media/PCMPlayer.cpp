#include "media/PCMPlayer.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "media/SDLAudioDevice.h"
#include "platform/Log.h"

namespace vistamo {

std::atomic<double> PCMPlayer::lastUnderrunTime{0.0};
std::atomic<int32_t> PCMPlayer::underrunCount{0};
std::atomic<int32_t> PCMPlayer::steadyCount{0};

namespace {

constexpr int kSampleRate = 48000;
constexpr uint16_t kBufferFrames = 512;
// Starvation this close to the previous one counts towards growing the ring.
constexpr double kUnderrunWindowSeconds = 1.0;
constexpr int32_t kUnderrunsBeforeGrowth = 9;
// Render calls in a row that find data before the ring gives back one added node.
constexpr int32_t kSteadyCallsBeforeShrink = 1001;
constexpr float kFadeStartVolume = 0.01f;
constexpr double kFadeStep = 1.01;

double secondsSince1970() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

PlaybackBuffer makeNode() {
    PlaybackBuffer node;
    node.data = std::make_unique<uint8_t[]>(PCMPlayer::kNodeBytes);
    node.capacity = PCMPlayer::kNodeBytes;
    return node;
}

// Multiplies each 16-bit sample by `gain`, truncating toward zero and keeping the low 16 bits
// (a product past the 16-bit range wraps, as the fade-in always has).
void scaleSamples(uint8_t* data, size_t bytes, float gain) {
    for (size_t at = 0; at + 1 < bytes; at += 2) {
        int16_t sample;
        std::memcpy(&sample, data + at, 2);
        const auto scaled = static_cast<int32_t>(static_cast<float>(sample) * gain);
        sample = static_cast<int16_t>(static_cast<uint16_t>(scaled));
        std::memcpy(data + at, &sample, 2);
    }
}

}  // namespace

PCMPlayer::PCMPlayer() : clock_(&secondsSince1970) {
    for (size_t i = 0; i < kInitialNodes; ++i) {
        ring_.push_back(makeNode());
    }
    chain_begin = chain_end = ring_.begin();
}

PCMPlayer::~PCMPlayer() {
    std::lock_guard control(stateLock_);
    audioUnit.reset();
}

void PCMPlayer::configAudio(double /*sampleRate*/) {
    std::lock_guard control(stateLock_);
    audioUnit.reset();

    // The blocks are 48,000 Hz whatever the hardware runs at; SDL converts to the rate the
    // device runs at and offers no way to choose that rate.
    SDL_AudioSpec desired{};
    desired.freq = kSampleRate;
    desired.format = AUDIO_S16SYS;
    desired.channels = 1;
    desired.samples = kBufferFrames;
    desired.callback = &PCMPlayer::playbackTrampoline;
    desired.userdata = this;
    std::string error;
    audioUnit = SDLAudioDevice::open(SDLAudioDevice::Direction::output, {}, desired, error);
    if (!audioUnit) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true)) {
            logLine("could not get default audio output device (" + error +
                    "); the camera's sound stays silent");
        }
    }
}

void PCMPlayer::start() {
    std::lock_guard control(stateLock_);
    bPlayback = true;
    std::lock_guard guard(condLock_);
    Volume = kFadeStartVolume;
}

void PCMPlayer::stop() {
    std::lock_guard control(stateLock_);
    bPlayback = false;
    if (!bStart) {
        return;
    }
    {
        // Ends a render call that waits for a block.
        std::lock_guard guard(condLock_);
        cond.notify_all();
    }
    bStart = false;
    if (audioUnit) {
        audioUnit->pause();
    }
    std::lock_guard guard(condLock_);
    chain_end = chain_begin;
    for (auto& node : ring_) {
        node.byteSize = 0;
    }
}

void PCMPlayer::playData(const uint8_t* data, uint64_t length) {
    // An empty block would sit in the ring as a free node that playback never passes.
    if (data == nullptr || length == 0) {
        return;
    }
    std::lock_guard control(stateLock_);
    if (!bPlayback) {
        return;
    }
    if (!bStart) {
        bStart = true;
        if (audioUnit) {
            audioUnit->resume();
        }
    }

    std::lock_guard guard(condLock_);
    PlaybackBuffer& node = *chain_end;
    if (node.capacity < length) {
        node.data.reset();
        node.capacity = 0;
        node.byteSize = 0;
        if (length <= UINT32_MAX) {
            node.data.reset(new (std::nothrow) uint8_t[length]);
        }
        if (node.data) {
            node.capacity = length;
        }
    }
    if (!node.data) {
        bError = true;
        return;
    }
    if (nextNode(chain_end) == chain_begin) {
        // Full: the oldest queued block gives way.
        chain_begin = nextNode(chain_begin);
    }
    std::memcpy(node.data.get(), data, length);
    if (Volume < 1.0f) {
        Volume = static_cast<float>(static_cast<double>(Volume) * kFadeStep);
        scaleSamples(node.data.get(), length, Volume);
    }
    node.byteSize = static_cast<uint32_t>(length);
    chain_end = nextNode(chain_end);
    if (bPlayback) {
        cond.notify_one();
    }
}

void PCMPlayer::setVolume(float volume) {
    std::lock_guard guard(condLock_);
    Volume = volume;
}

float PCMPlayer::getVolume() const {
    std::lock_guard guard(condLock_);
    return Volume;
}

void PCMPlayer::playbackTrampoline(void* userdata, uint8_t* stream, int length) {
    static_cast<PCMPlayer*>(userdata)->playbackCallback(stream, length);
}

void PCMPlayer::playbackCallback(uint8_t* stream, int length) {
    if (stream == nullptr || length <= 0) {
        return;
    }
    const auto bytes = static_cast<size_t>(length);
    std::unique_lock guard(condLock_);
    if (ringIsEmpty()) {
        steadyCount = 0;
        if (cond.wait_for(guard, underrunWait_) == std::cv_status::timeout) {
            recordUnderrun();
            ++starvedBuffers_;
            std::memset(stream, 0, bytes);
            return;
        }
    } else {
        if (++steadyCount >= kSteadyCallsBeforeShrink && additionalChainNumber > 0 &&
            nextNode(chain_end) != chain_begin) {
            shrinkRing();
        }
    }
    const size_t written = copyQueuedBlocks(stream, bytes);
    std::memset(stream + written, 0, bytes - written);
}

PCMPlayer::Node PCMPlayer::nextNode(Node node) {
    ++node;
    return node == ring_.end() ? ring_.begin() : node;
}

bool PCMPlayer::ringIsEmpty() const {
    return chain_begin == chain_end && chain_begin->byteSize == 0;
}

void PCMPlayer::recordUnderrun() {
    const double now = clock_();
    const double last = lastUnderrunTime;
    if (last == 0.0 || now - last >= kUnderrunWindowSeconds) {
        lastUnderrunTime = now;
    } else if (underrunCount >= kUnderrunsBeforeGrowth &&
               additionalChainNumber < kMaxAdditionalNodes) {
        growRing();
    } else {
        lastUnderrunTime = now;
        ++underrunCount;
    }
}

void PCMPlayer::growRing() {
    try {
        ring_.insert(std::next(chain_end), makeNode());
    } catch (const std::bad_alloc&) {
        return;  // the ring stays as it is; the next starvation tries again
    }
    underrunCount = 0;
    lastUnderrunTime = 0.0;
    ++additionalChainNumber;
}

void PCMPlayer::shrinkRing() {
    ring_.erase(nextNode(chain_end));
    --additionalChainNumber;
    steadyCount = 0;
}

size_t PCMPlayer::copyQueuedBlocks(uint8_t* stream, size_t length) {
    size_t written = 0;
    if (chain_begin->byteSize == 0) {
        return written;
    }
    while (true) {
        PlaybackBuffer& node = *chain_begin;
        // The first block goes in whole when it fits; a longer one is cut at the buffer's end.
        const size_t taken = std::min<size_t>(node.byteSize, length - written);
        std::memcpy(stream + written, node.data.get(), taken);
        written += taken;
        node.byteSize = 0;
        chain_begin = nextNode(chain_begin);
        const uint32_t following = chain_begin->byteSize;
        if (following == 0 || following > length - written) {
            return written;
        }
    }
}

PCMPlayer::RingState PCMPlayer::ringState() const {
    std::lock_guard guard(condLock_);
    RingState state;
    state.nodes = ring_.size();
    for (std::list<PlaybackBuffer>::const_iterator node = chain_begin; node != chain_end;) {
        ++state.queuedBlocks;
        if (++node == ring_.end()) {
            node = ring_.begin();
        }
    }
    state.additionalChainNumber = additionalChainNumber;
    state.empty = chain_begin == chain_end && chain_begin->byteSize == 0;
    state.bError = bError;
    return state;
}

PCMPlayer::UnderrunCounters PCMPlayer::underrunCounters() {
    return {lastUnderrunTime, underrunCount, steadyCount};
}

}  // namespace vistamo
