#pragma once

#include "session/SessionParts.h"
#include "video/DialogRunner.h"

namespace vistamo {

// The parts of a real camera session: the H.264 decoder, the Opus codec playing on the default
// output device, the recorder writing to the Videos folder, the alarm sound "alarm.mp3" from the
// resources (none when it cannot be loaded) and the Qt alerts shown with `runner`. Main thread.
SessionParts makeSessionParts(DialogRunner runner = showingDialogRunner());

}  // namespace vistamo
