#pragma once

#include <memory>
#include <string>

#include "platform/SoundPlayer.h"

namespace vistamo {

// A sound file played through SDL2_mixer ("alarm.mp3", "shutter1.wav"): played once per
// request, at full volume, never restarted while it plays.
//
// Loading opens the mixer's output device when no sound holds it yet (the device is shared by
// every loaded sound and closed with the last one); it fails, returning none, when the file
// cannot be read or decoded or no audio device opens. Main thread only.
std::shared_ptr<SoundPlayer> loadSound(const std::string& path);

}  // namespace vistamo
