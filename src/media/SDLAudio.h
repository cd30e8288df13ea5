#pragma once

#include <mutex>
#include <string>

namespace vistamo {

// SDL keeps its audio state (the subsystem, the table of open devices) in globals that are not
// safe to change from several threads at once, and players and recorders are made and destroyed
// on different threads. Every call that starts or stops the subsystem, opens, closes, pauses or
// resumes a device, or asks about devices holds this lock.
//
// Lock order: a component's own control lock, then this lock, then SDL's lock of one device
// (SDL holds it around every call of that device's callback), then the component's ring lock.
// An audio callback therefore never takes this lock or calls SDL.
//
// Releasing the lock also frees what SDL keeps for the calling thread (its error text, which
// must be read before): SDL frees that by itself only on threads it made, and the queues that
// call in here come and go.
class SDLAudioLock {
public:
    SDLAudioLock();
    ~SDLAudioLock();

    SDLAudioLock(const SDLAudioLock&) = delete;
    SDLAudioLock& operator=(const SDLAudioLock&) = delete;

private:
    std::unique_lock<std::mutex> lock_;
};

// One user's reference on SDL's audio subsystem. SDL counts the references: the first starts
// the subsystem (with the driver named by SDL_AUDIODRIVER, else the first that works), the last
// stops it. Make and destroy on any thread, but not while holding an `SDLAudioLock`.
class SDLAudio {
public:
    SDLAudio();
    ~SDLAudio();

    SDLAudio(const SDLAudio&) = delete;
    SDLAudio& operator=(const SDLAudio&) = delete;

    // Whether this reference holds the subsystem; when not, `error` says why.
    bool running() const { return running_; }
    const std::string& error() const { return error_; }

private:
    // Set once in the constructor.
    bool running_ = false;
    std::string error_;
};

}  // namespace vistamo
