#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "media/RecordedSample.h"

namespace vistamo {

// The time stamps a camera's stream is written with, in a recording's file or to a media
// server. Every stream starts from the first key frame: sound from its arrival, pictures from
// its presentation time (the camera's time stamp when it sends one, else its arrival). Decode
// times are the presentation times in increasing order, one picture behind, and everything
// lies kLeadSeconds after the first picture's decode time, so that no time is negative.
//
// Without the camera's time stamps, the presentation order is guessed from arrival: a
// non-reference picture is shown before the reference picture received just before it, so a
// picture's times are known only once the next one has arrived. With them, `Holding` says
// whether a picture still waits for the next (its duration is then exact, as a file's sample
// table wants) or goes at once with the last duration as its own (what a live stream wants).
//
// Not thread-safe: one thread (a writer's) uses it.
class StreamTimeline {
public:
    static constexpr int kVideoClock = 90000;
    static constexpr int kAudioRate = 48000;
    static constexpr double kLeadSeconds = 0.05;

    enum class Holding { untilNextPicture, onlyWhenGuessingOrder };

    // A picture with its times on kVideoClock.
    struct TimedPicture {
        RecordedSample sample;
        int64_t pts = 0;
        int64_t dts = 0;
        int64_t duration = 0;
    };
    // A sound packet's time and length on kAudioRate.
    struct TimedSound {
        int64_t pts = 0;
        int64_t samples = 0;
    };

    explicit StreamTimeline(Holding holding) : holding_(holding) {}

    // Begins the timeline at `first`, a key frame.
    void begin(const RecordedSample& first);
    bool begun() const { return begun_; }

    // The picture whose times are known once `sample` has arrived: the previous one, or this
    // one when it is not held; none when nothing is ready yet.
    std::optional<TimedPicture> picture(RecordedSample sample);
    // The picture still held at the end, with the last duration.
    std::optional<TimedPicture> finish();

    // A sound packet's time; none when it is not an Opus packet. Sound that arrives later than
    // its packets add up to means packets were lost: the sound then skips ahead rather than
    // drift from the pictures.
    std::optional<TimedSound> sound(const RecordedSample& sample);

private:
    struct HeldPicture {
        RecordedSample sample;
        double pts = 0;
        double dts = 0;
    };
    TimedPicture timed(HeldPicture picture, double duration) const;

    Holding holding_;
    bool begun_ = false;
    double startArrival_ = 0;
    double startPresentation_ = 0;
    bool cameraClock_ = false;
    double lastPresentation_ = 0;
    std::multiset<double> unsortedPresentation_;
    std::optional<HeldPicture> held_;
    double lastDts_ = 0;
    int64_t picturesSeen_ = 0;
    double lastDuration_ = 1.0 / 30;
    int64_t audioSamples_ = 0;
    std::optional<double> audioStart_;
};

}  // namespace vistamo
