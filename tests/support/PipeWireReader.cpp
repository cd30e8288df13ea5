#include "support/PipeWireReader.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <stdexcept>

#include "support/TestStream.h"

namespace vistamo::test {

struct PipeWireReaderCallbacks {
    static void paramChanged(void* data, uint32_t id, const spa_pod* param) {
        if (id == SPA_PARAM_Format && param != nullptr) {
            static_cast<PipeWireReader*>(data)->formatChanged(param);
        }
    }
    static void process(void* data) { static_cast<PipeWireReader*>(data)->process(); }
    static const pw_stream_events& events() {
        static const pw_stream_events table = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.param_changed = paramChanged;
            events.process = process;
            return events;
        }();
        return table;
    }
};

PipeWireReader::PipeWireReader(Kind kind, const std::string& target) : kind_(kind) {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("test reader", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    pw_thread_loop_start(loop_);
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (core_ == nullptr) {
        pw_thread_loop_unlock(loop_);
        throw std::runtime_error("the reader cannot connect to PipeWire");
    }
    const bool video = kind == Kind::video;
    pw_properties* properties =
        pw_properties_new(PW_KEY_MEDIA_TYPE, video ? "Video" : "Audio", PW_KEY_MEDIA_CATEGORY,
                          "Capture", PW_KEY_MEDIA_ROLE, video ? "Camera" : "Communication",
                          PW_KEY_TARGET_OBJECT, target.c_str(), nullptr);
    stream_ = pw_stream_new(core_, "vistamo test reader", properties);
    listener_ = std::make_unique<spa_hook>();
    pw_stream_add_listener(stream_, listener_.get(), &PipeWireReaderCallbacks::events(), this);
    uint8_t storage[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage, sizeof(storage));
    const spa_pod* format = nullptr;
    if (video) {
        spa_rectangle smallest{1, 1}, usual{320, 240}, largest{8192, 8192};
        spa_fraction slowest{0, 1}, usualRate{25, 1}, fastest{1000, 1};
        format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_I420), SPA_FORMAT_VIDEO_size,
            SPA_POD_CHOICE_RANGE_Rectangle(&usual, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&usualRate, &slowest, &fastest)));
    } else {
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16;
        info.rate = 48000;
        info.channels = 1;
        info.position[0] = SPA_AUDIO_CHANNEL_MONO;
        format = spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
    }
    pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        &format, 1);
    pw_thread_loop_unlock(loop_);
}

PipeWireReader::~PipeWireReader() {
    pw_thread_loop_lock(loop_);
    if (stream_ != nullptr) {
        spa_hook_remove(listener_.get());
        pw_stream_destroy(stream_);
    }
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (core_ != nullptr) {
        pw_core_disconnect(core_);
    }
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

void PipeWireReader::formatChanged(const spa_pod* format) {
    if (kind_ != Kind::video) {
        return;
    }
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(format, &info) < 0) {
        return;
    }
    size_ = {static_cast<int>(info.size.width), static_cast<int>(info.size.height)};
    std::lock_guard guard(lock_);
    formats_.push_back(size_);
}

void PipeWireReader::process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) {
        return;
    }
    const spa_data& data = buffer->buffer->datas[0];
    if (data.data != nullptr && data.chunk->size > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data.data) + data.chunk->offset;
        std::lock_guard guard(lock_);
        if (kind_ == Kind::video) {
            const int stride = data.chunk->stride > 0 ? data.chunk->stride : size_.width;
            const bool whole = static_cast<int64_t>(stride) * size_.height <= data.chunk->size;
            pictures_.push_back(
                {size_.width, size_.height,
                 whole ? readFrameNumber(bytes, stride, size_.width, size_.height) : -1,
                 std::chrono::steady_clock::now()});
        } else {
            const auto* samples = reinterpret_cast<const int16_t*>(bytes);
            samples_.insert(samples_.end(), samples, samples + data.chunk->size / 2);
        }
    }
    pw_stream_queue_buffer(stream_, buffer);
}

std::vector<PipeWireReader::Picture> PipeWireReader::pictures() const {
    std::lock_guard guard(lock_);
    return pictures_;
}

std::vector<PipeWireReader::Size> PipeWireReader::formats() const {
    std::lock_guard guard(lock_);
    return formats_;
}

std::vector<int16_t> PipeWireReader::samples() const {
    std::lock_guard guard(lock_);
    return samples_;
}

size_t PipeWireReader::pictureCount() const {
    std::lock_guard guard(lock_);
    return pictures_.size();
}

size_t PipeWireReader::sampleCount() const {
    std::lock_guard guard(lock_);
    return samples_.size();
}

}  // namespace vistamo::test
