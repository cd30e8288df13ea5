#include "media/SDLAudio.h"

#include <SDL.h>

namespace vistamo {

namespace {
std::mutex& sdlAudioMutex() {
    static std::mutex lock;
    return lock;
}
}  // namespace

SDLAudioLock::SDLAudioLock() : lock_(sdlAudioMutex()) {}

SDLAudioLock::~SDLAudioLock() { SDL_TLSCleanup(); }

SDLAudio::SDLAudio() {
    SDLAudioLock guard;
    // SDL starts its event subsystem along with audio, and that would take over SIGINT and
    // SIGTERM from the application.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        running_ = true;
    } else {
        error_ = SDL_GetError();
    }
}

SDLAudio::~SDLAudio() {
    if (running_) {
        SDLAudioLock guard;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

}  // namespace vistamo
