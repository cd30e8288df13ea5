#include "webcam/WebcamSoundNode.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Log.h"

namespace vistamo {

struct WebcamSoundCallbacks {
    static void process(void* data) { static_cast<WebcamSoundNode*>(data)->process(); }
    static void stateChanged(void* /*data*/, pw_stream_state /*old*/, pw_stream_state state,
                             const char* error) {
        if (state == PW_STREAM_STATE_ERROR) {
            logLine(std::string("webcam microphone failed: ") +
                    (error ? error : "no reason given"));
        }
    }
    static const pw_stream_events& events() {
        static const pw_stream_events table = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = stateChanged;
            events.process = process;
            return events;
        }();
        return table;
    }
};

WebcamSoundNode::WebcamSoundNode(std::shared_ptr<PipeWireConnection> connection,
                                 WebcamNodeNames names)
    : connection_(std::move(connection)) {
    PipeWireConnection::Lock lock(*connection_);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
        "Communication", PW_KEY_MEDIA_CLASS, "Audio/Source", PW_KEY_NODE_NAME,
        names.nodeName.c_str(), PW_KEY_NODE_DESCRIPTION, names.description.c_str(), nullptr);
    stream_ = pw_stream_new(connection_->core(), names.nodeName.c_str(), properties);
    if (stream_ == nullptr) {
        logLine("webcam microphone not made: " + names.nodeName);
        return;
    }
    listener_ = std::make_unique<spa_hook>();
    pw_stream_add_listener(stream_, listener_.get(), &WebcamSoundCallbacks::events(), this);
    uint8_t storage[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage, sizeof(storage));
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16;
    info.rate = kSampleRate;
    info.channels = 1;
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* format = spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
    const int result = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                         PW_STREAM_FLAG_MAP_BUFFERS, &format, 1);
    if (result < 0) {
        logLine("webcam microphone not connected: " + names.nodeName + ": " +
                std::strerror(-result));
    }
}

WebcamSoundNode::~WebcamSoundNode() {
    PipeWireConnection::Lock lock(*connection_);
    if (stream_ != nullptr) {
        spa_hook_remove(listener_.get());
        pw_stream_destroy(stream_);
    }
}

void WebcamSoundNode::soundDecoded(std::span<const int16_t> samples, int sampleRate, int channels) {
    std::lock_guard guard(queueLock_);
    if (sampleRate != kSampleRate || channels < 1) {
        if (!otherRateReported_) {
            otherRateReported_ = true;
            logLine("webcam microphone: sound at " + std::to_string(sampleRate) + " Hz and " +
                    std::to_string(channels) + " channels is not passed on");
        }
        return;
    }
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    for (size_t frame = 0; frame < frames; ++frame) {
        int sum = 0;
        for (int channel = 0; channel < channels; ++channel) {
            sum += samples[frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
        }
        if (count_ == ring_.size()) {
            // Nobody reads, or the reader fell behind: the oldest half goes at once, so that
            // the sound breaks once instead of at every packet.
            head_ = (head_ + count_ / 2) % ring_.size();
            count_ -= count_ / 2;
        }
        ring_[(head_ + count_) % ring_.size()] = static_cast<int16_t>(sum / channels);
        ++count_;
    }
}

uint64_t WebcamSoundNode::soundFrames() const {
    std::lock_guard guard(queueLock_);
    return soundFrames_;
}

uint64_t WebcamSoundNode::silentFrames() const {
    std::lock_guard guard(queueLock_);
    return silentFrames_;
}

void WebcamSoundNode::take(int16_t* out, size_t count) {
    std::lock_guard guard(queueLock_);
    if (!flowing_ && count_ >= std::max(kStartFrames, count)) {
        // Sound begins with what came last, not with what waited for a reader.
        const size_t kept = std::max(kStartFrames, count);
        head_ = (head_ + count_ - kept) % ring_.size();
        count_ = kept;
        flowing_ = true;
    }
    const size_t given = flowing_ ? std::min(count, count_) : 0;
    for (size_t index = 0; index < given; ++index) {
        out[index] = ring_[(head_ + index) % ring_.size()];
    }
    head_ = (head_ + given) % ring_.size();
    count_ -= given;
    std::fill(out + given, out + count, int16_t{0});
    if (given < count) {
        flowing_ = false;
    }
    soundFrames_ += given;
    silentFrames_ += count - given;
}

void WebcamSoundNode::process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) {
        return;
    }
    spa_buffer* data = buffer->buffer;
    if (data->n_datas < 1 || data->datas[0].data == nullptr) {
        pw_stream_queue_buffer(stream_, buffer);
        return;
    }
    size_t frames = data->datas[0].maxsize / sizeof(int16_t);
    if (buffer->requested > 0) {
        frames = std::min<size_t>(frames, buffer->requested);
    }
    take(static_cast<int16_t*>(data->datas[0].data), frames);
    data->datas[0].chunk->offset = 0;
    data->datas[0].chunk->stride = sizeof(int16_t);
    data->datas[0].chunk->size = static_cast<uint32_t>(frames * sizeof(int16_t));
    pw_stream_queue_buffer(stream_, buffer);
}

}  // namespace vistamo
