#pragma once

#include <optional>

namespace vistamo {

// When an alarm clip ends: `secondsAfter` after the last alarm, so that a second alarm during
// a clip extends it. Times are seconds on the recorder's clock.
class AlarmClip {
public:
    explicit AlarmClip(double secondsAfter) : secondsAfter_(secondsAfter) {}

    // An alarm at `now`; true when it begins a clip, false when it extends the running one.
    bool alarm(double now);
    // False once the clip's end has passed (and before any alarm); the clip is over then.
    bool isRunning(double now) const { return end_ && now < *end_; }
    void reset() { end_.reset(); }
    void setSecondsAfter(double secondsAfter) { secondsAfter_ = secondsAfter; }

private:
    double secondsAfter_;
    std::optional<double> end_;
};

}  // namespace vistamo
