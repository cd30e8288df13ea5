#include "media/MixerSound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <vector>

#include "media/SDLAudio.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr int kMixerRate = 48000;
constexpr int kMixerChannels = 2;
constexpr int kMixerChunkFrames = 1024;

// The mixer's output device, shared by every loaded sound: opened by the first, closed with
// the last. Each sound plays on a mixer channel of its own, so one sound never cuts another.
// Main thread only, like the sounds.
class MixerDevice {
public:
    static std::shared_ptr<MixerDevice> shared(std::string& error) {
        if (auto device = current().lock()) {
            return device;
        }
        auto audio = std::make_unique<SDLAudio>();
        if (!audio->running()) {
            error = audio->error();
            return nullptr;
        }
        {
            SDLAudioLock guard;
            Mix_Init(MIX_INIT_MP3);
            if (Mix_OpenAudio(kMixerRate, AUDIO_S16SYS, kMixerChannels, kMixerChunkFrames) != 0) {
                error = Mix_GetError();
                Mix_Quit();
                return nullptr;  // the lock goes before the subsystem reference
            }
        }
        auto device = std::make_shared<MixerDevice>(std::move(audio));
        current() = device;
        return device;
    }

    explicit MixerDevice(std::unique_ptr<SDLAudio> audio) : audio_(std::move(audio)) {}

    ~MixerDevice() {
        {
            SDLAudioLock guard;
            Mix_CloseAudio();
            Mix_Quit();
        }
        audio_.reset();
    }

    MixerDevice(const MixerDevice&) = delete;
    MixerDevice& operator=(const MixerDevice&) = delete;

    // The lowest free channel, the mixer growing by one when all are taken.
    int acquireChannel() {
        for (size_t channel = 0; channel < used_.size(); ++channel) {
            if (!used_[channel]) {
                used_[channel] = true;
                return static_cast<int>(channel);
            }
        }
        used_.push_back(true);
        Mix_AllocateChannels(static_cast<int>(used_.size()));
        return static_cast<int>(used_.size() - 1);
    }

    void releaseChannel(int channel) {
        Mix_HaltChannel(channel);
        used_[static_cast<size_t>(channel)] = false;
    }

private:
    static std::weak_ptr<MixerDevice>& current() {
        static std::weak_ptr<MixerDevice> device;
        return device;
    }

    std::unique_ptr<SDLAudio> audio_;
    std::vector<bool> used_;
};

struct ChunkDeleter {
    void operator()(Mix_Chunk* chunk) const { Mix_FreeChunk(chunk); }
};

class MixerSound : public SoundPlayer {
public:
    MixerSound(std::shared_ptr<MixerDevice> device, std::unique_ptr<Mix_Chunk, ChunkDeleter> chunk)
        : device_(std::move(device)),
          chunk_(std::move(chunk)),
          channel_(device_->acquireChannel()) {
        Mix_Volume(channel_, MIX_MAX_VOLUME);
    }

    ~MixerSound() override {
        // The channel stops before its chunk is freed; the device closes after both.
        device_->releaseChannel(channel_);
        chunk_.reset();
    }

    void play() override {
        if (isPlaying()) {
            return;
        }
        if (Mix_PlayChannel(channel_, chunk_.get(), 0) < 0) {
            logLine(std::string("cannot play a sound: ") + Mix_GetError());
        }
    }

    bool isPlaying() const override { return Mix_Playing(channel_) != 0; }

private:
    std::shared_ptr<MixerDevice> device_;
    std::unique_ptr<Mix_Chunk, ChunkDeleter> chunk_;
    int channel_;
};

}  // namespace

std::shared_ptr<SoundPlayer> loadSound(const std::string& path) {
    std::string error;
    auto device = MixerDevice::shared(error);
    if (!device) {
        logLine("cannot play " + path + ": no audio output: " + error);
        return nullptr;
    }
    SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
    if (file == nullptr) {
        logLine("cannot open the sound " + path + ": " + SDL_GetError());
        return nullptr;
    }
    // Takes the file and closes it whatever the outcome.
    std::unique_ptr<Mix_Chunk, ChunkDeleter> chunk(Mix_LoadWAV_RW(file, 1));
    if (!chunk) {
        logLine("cannot load the sound " + path + ": " + Mix_GetError());
        return nullptr;
    }
    return std::make_shared<MixerSound>(std::move(device), std::move(chunk));
}

}  // namespace vistamo
