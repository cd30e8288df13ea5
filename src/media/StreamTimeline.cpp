#include "media/StreamTimeline.h"

#include <opus.h>

#include <algorithm>
#include <cmath>

namespace vistamo {

namespace {

constexpr double kAudioResyncSeconds = 0.2;

int64_t ticks(double seconds, int clock) { return std::llround(seconds * clock); }

}  // namespace

void StreamTimeline::begin(const RecordedSample& first) {
    begun_ = true;
    startArrival_ = first.arrivalSeconds;
    cameraClock_ = first.cameraSeconds.has_value();
    startPresentation_ = cameraClock_ ? *first.cameraSeconds : first.arrivalSeconds;
}

StreamTimeline::TimedPicture StreamTimeline::timed(HeldPicture picture, double duration) const {
    TimedPicture result;
    result.pts = ticks(std::max(picture.pts, picture.dts) + kLeadSeconds, kVideoClock);
    result.dts = ticks(picture.dts + kLeadSeconds, kVideoClock);
    result.duration = std::max<int64_t>(1, ticks(duration, kVideoClock));
    result.sample = std::move(picture.sample);
    return result;
}

std::optional<StreamTimeline::TimedPicture> StreamTimeline::picture(RecordedSample sample) {
    double pts = (cameraClock_ && sample.cameraSeconds) ? *sample.cameraSeconds - startPresentation_
                                                        : sample.arrivalSeconds - startArrival_;
    if (!cameraClock_) {
        if (picturesSeen_ > 0 && pts <= lastPresentation_) {
            pts = lastPresentation_ + 1.0 / kVideoClock;
        }
        lastPresentation_ = pts;
    }
    unsortedPresentation_.insert(pts);
    if (!cameraClock_ && held_ && !sample.reference && held_->sample.reference) {
        std::swap(pts, held_->pts);
    }
    double dts = -kLeadSeconds;
    if (picturesSeen_ > 0) {
        dts = *unsortedPresentation_.begin();
        unsortedPresentation_.erase(unsortedPresentation_.begin());
        const double previousDts = held_ ? held_->dts : lastDts_;
        dts = std::max(dts, previousDts + 1.0 / kVideoClock);
    }
    ++picturesSeen_;
    std::optional<TimedPicture> ready;
    if (held_) {
        lastDuration_ = dts - held_->dts;
        lastDts_ = held_->dts;
        ready = timed(std::move(*held_), lastDuration_);
        held_.reset();
    }
    HeldPicture current{std::move(sample), pts, dts};
    if (holding_ == Holding::onlyWhenGuessingOrder && cameraClock_) {
        if (picturesSeen_ > 1) {
            lastDuration_ = std::max(dts - lastDts_, 1.0 / kVideoClock);
        }
        lastDts_ = dts;
        return timed(std::move(current), lastDuration_);
    }
    held_ = std::move(current);
    return ready;
}

std::optional<StreamTimeline::TimedPicture> StreamTimeline::finish() {
    if (!held_) {
        return std::nullopt;
    }
    HeldPicture picture = std::move(*held_);
    held_.reset();
    lastDts_ = picture.dts;
    return timed(std::move(picture), lastDuration_);
}

std::optional<StreamTimeline::TimedSound> StreamTimeline::sound(const RecordedSample& sample) {
    const int samples = opus_packet_get_nb_samples(
        sample.data.data(), static_cast<opus_int32>(sample.data.size()), kAudioRate);
    if (samples <= 0) {
        return std::nullopt;
    }
    const double arrival = sample.arrivalSeconds - startArrival_;
    if (!audioStart_) {
        audioStart_ = std::max(0.0, arrival);
    }
    const double expected = *audioStart_ + static_cast<double>(audioSamples_) / kAudioRate;
    if (arrival - expected > kAudioResyncSeconds) {
        audioSamples_ += ticks(arrival - expected, kAudioRate);
    }
    const int64_t pts = ticks(*audioStart_ + kLeadSeconds, kAudioRate) + audioSamples_;
    audioSamples_ += samples;
    return TimedSound{pts, samples};
}

}  // namespace vistamo
