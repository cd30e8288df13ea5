#pragma once

#include <opus.h>

#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "media/ClipRecorder.h"
#include "support/TestStream.h"

namespace vistamo::test {

// A camera at 30 pictures a second with a 10 ms Opus packet stream, played into a recorder on
// a clock of its own: picture k arrives at k/30 s, its stream looped when it runs out.
class CameraFeed {
public:
    static constexpr double kPictureSeconds = 1.0 / 30;

    explicit CameraFeed(const TestStreamOptions& options) : stream_(encodeTestStream(options)) {
        int error = 0;
        std::unique_ptr<OpusEncoder, decltype(&opus_encoder_destroy)> encoder(
            opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &error), &opus_encoder_destroy);
        std::array<int16_t, 480> pcm;
        std::array<uint8_t, 1500> packet;
        for (int i = 0; i < 50; ++i) {
            for (size_t s = 0; s < pcm.size(); ++s) {
                pcm[s] = static_cast<int16_t>(8000 * std::sin((i * 480.0 + s) * 0.0916));
            }
            const int bytes = opus_encode(encoder.get(), pcm.data(), 480, packet.data(), 1500);
            packets_.emplace_back(packet.begin(), packet.begin() + std::max(bytes, 0));
        }
    }

    // The camera goes on with another stream (another picture size), from its first picture.
    void changeStream(const TestStreamOptions& options) {
        stream_ = encodeTestStream(options);
        first_ = sent_;
    }

    std::function<double()> clock() {
        return [this] { return now_; };
    }
    double now() const { return now_; }
    int picturesSent() const { return sent_; }
    const TestStream& stream() const { return stream_; }

    // Sends pictures (and the sound before each) until the clock reaches `seconds`.
    void playUntil(ClipRecorder& recorder, double seconds, bool cameraTimes = false) {
        while (sent_ * kPictureSeconds < seconds - 1e-9) {
            const double pictureTime = sent_ * kPictureSeconds;
            while (audioSent_ * 0.01 < pictureTime) {
                now_ = audioSent_ * 0.01;
                recorder.sound(packets_[audioSent_ % packets_.size()]);
                ++audioSent_;
            }
            now_ = pictureTime;
            const size_t index = (sent_ - first_) % stream_.pictures.size();
            const int loop = static_cast<int>((sent_ - first_) / stream_.pictures.size());
            const auto& picture = stream_.pictures[index];
            if (picture.idr) {
                recorder.parameterSets(stream_.sps, stream_.pps);
            }
            std::vector<ByteView> units(picture.slices.begin(), picture.slices.end());
            std::optional<double> cameraTime;
            if (cameraTimes) {
                cameraTime =
                    (loop * stream_.pictures.size() + picture.frameNumber) * kPictureSeconds;
            }
            recorder.picture(units, picture.idr, cameraTime);
            ++sent_;
        }
        now_ = seconds;
    }

private:
    TestStream stream_;
    std::vector<Bytes> packets_;
    double now_ = 0;
    int sent_ = 0;
    int first_ = 0;
    int audioSent_ = 0;
};

}  // namespace vistamo::test
