#include "media/SDLAudioDevice.h"

namespace vistamo {

std::unique_ptr<SDLAudioDevice> SDLAudioDevice::open(Direction direction, const std::string& name,
                                                     const SDL_AudioSpec& desired,
                                                     std::string& error) {
    auto audio = std::make_unique<SDLAudio>();
    if (!audio->running()) {
        error = audio->error();
        return nullptr;
    }
    SDLAudioLock guard;
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(),
                            direction == Direction::capture ? 1 : 0, &desired, &obtained, 0);
    if (id == 0) {
        error = SDL_GetError();
        return nullptr;  // the lock goes before the subsystem reference, which takes it again
    }
    return std::make_unique<SDLAudioDevice>(Key{}, std::move(audio), id, obtained);
}

SDLAudioDevice::SDLAudioDevice(Key, std::unique_ptr<SDLAudio> audio, SDL_AudioDeviceID id,
                               const SDL_AudioSpec& obtained)
    : audio_(std::move(audio)), id_(id), obtained_(obtained) {}

SDLAudioDevice::~SDLAudioDevice() {
    SDLAudioLock guard;
    SDL_CloseAudioDevice(id_);
}

void SDLAudioDevice::resume() {
    SDLAudioLock guard;
    SDL_PauseAudioDevice(id_, 0);
}

void SDLAudioDevice::pause() {
    SDLAudioLock guard;
    SDL_PauseAudioDevice(id_, 1);
}

}  // namespace vistamo
