#pragma once

namespace vistamo {

// Where a player takes its sound to, or a recorder takes its sound from.
enum class AudioEndpoint {
    // The system's default output or input device, opened through SDL.
    systemDefault,
    // No device is opened and SDL is not started: the owner calls the audio callback itself.
    // For a codec that only encodes, for tests and for fuzzing.
    none,
};

}  // namespace vistamo
