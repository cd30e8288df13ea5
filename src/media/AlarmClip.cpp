#include "media/AlarmClip.h"

namespace vistamo {

bool AlarmClip::alarm(double now) {
    const bool begins = !isRunning(now);
    end_ = now + secondsAfter_;
    return begins;
}

}  // namespace vistamo
