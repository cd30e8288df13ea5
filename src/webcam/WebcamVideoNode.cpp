#include "webcam/WebcamVideoNode.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "media/DecodedFrame.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr int kMaxFramesPerSecond = 120;

int roundUp(int value, int multiple) { return (value + multiple - 1) / multiple * multiple; }

// I420 in one block, laid out as GStreamer and V4L2 readers expect it: rows of luma padded to
// 4 bytes, then Cb, then Cr, each with rows of half the width padded to 4 bytes.
struct I420Layout {
    int strides[3];
    int offsets[3];
    int heights[3];
    int size;

    I420Layout(int width, int height) {
        const int lumaHeight = roundUp(height, 2);
        strides[0] = roundUp(width, 4);
        strides[1] = strides[2] = roundUp(roundUp(width, 2) / 2, 4);
        heights[0] = height;
        heights[1] = heights[2] = lumaHeight / 2;
        offsets[0] = 0;
        offsets[1] = strides[0] * lumaHeight;
        offsets[2] = offsets[1] + strides[1] * heights[1];
        size = offsets[2] + strides[2] * heights[2];
    }
};

// Copies the picture's planes into `out`; 4:2:2 and 4:4:4 chroma is thinned to 4:2:0.
void copyI420(const DecodedFrame& picture, const I420Layout& layout, uint8_t* out) {
    for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
        const uint8_t* source = picture.plane(index);
        const int sourceStride = picture.stride(index);
        const int sourceWidth = picture.planeWidth(index);
        const int sourceHeight = picture.planeHeight(index);
        const int width = index == 0 ? picture.width() : (picture.width() + 1) / 2;
        const int height = layout.heights[index];
        uint8_t* target = out + layout.offsets[index];
        const bool sameShape = sourceWidth == width && sourceHeight == height;
        for (int row = 0; row < height; ++row) {
            uint8_t* line = target + static_cast<ptrdiff_t>(row) * layout.strides[index];
            if (sameShape) {
                std::memcpy(line, source + static_cast<ptrdiff_t>(row) * sourceStride,
                            static_cast<size_t>(width));
                continue;
            }
            const int sourceRow = std::min(sourceHeight - 1, row * sourceHeight / height);
            const uint8_t* from = source + static_cast<ptrdiff_t>(sourceRow) * sourceStride;
            for (int column = 0; column < width; ++column) {
                line[column] = from[std::min(sourceWidth - 1, column * sourceWidth / width)];
            }
        }
    }
}

int64_t monotonicNanoseconds(std::chrono::steady_clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// The one format the node offers, I420 at `width`×`height` and `framesPerSecond`, built in
// `storage`.
const spa_pod* i420Format(uint8_t* storage, size_t bytes, int width, int height,
                          int framesPerSecond) {
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage, static_cast<uint32_t>(bytes));
    spa_rectangle rectangle{static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    spa_fraction rate{static_cast<uint32_t>(framesPerSecond), 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_I420), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&rectangle),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
}

}  // namespace

// The C callbacks of the loop and the stream, each handing over to the node.
struct WebcamVideoCallbacks {
    static void wake(void* data, uint64_t /*count*/) {
        static_cast<WebcamVideoNode*>(data)->wake();
    }
    static void repeat(void* data, uint64_t /*expirations*/) {
        static_cast<WebcamVideoNode*>(data)->repeatTick();
    }
    static void stateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state,
                             const char* error) {
        if (state == PW_STREAM_STATE_ERROR) {
            logLine(std::string("webcam stream failed: ") + (error ? error : "no reason given"));
        }
        static_cast<WebcamVideoNode*>(data)->stateChanged(state);
    }
    static void paramChanged(void* data, uint32_t id, const spa_pod* param) {
        if (id == SPA_PARAM_Format && param != nullptr) {
            static_cast<WebcamVideoNode*>(data)->formatChanged(param);
        }
    }
    static void process(void* data) { static_cast<WebcamVideoNode*>(data)->process(); }

    static const pw_stream_events& events() {
        static const pw_stream_events table = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = stateChanged;
            events.param_changed = paramChanged;
            events.process = process;
            return events;
        }();
        return table;
    }
};

WebcamVideoNode::WebcamVideoNode(std::shared_ptr<PipeWireConnection> connection,
                                 WebcamNodeNames names, QueuedObserver observer)
    : connection_(std::move(connection)), names_(std::move(names)), observer_(std::move(observer)) {
    PipeWireConnection::Lock lock(*connection_);
    pw_loop* loop = pw_thread_loop_get_loop(connection_->threadLoop());
    wakeEvent_ = pw_loop_add_event(loop, WebcamVideoCallbacks::wake, this);
    repeatTimer_ = pw_loop_add_timer(loop, WebcamVideoCallbacks::repeat, this);
    const auto half = std::chrono::duration_cast<std::chrono::nanoseconds>(kRepeatInterval / 2);
    timespec every{};
    every.tv_sec = static_cast<time_t>(half.count() / 1'000'000'000);
    every.tv_nsec = static_cast<long>(half.count() % 1'000'000'000);
    pw_loop_update_timer(loop, repeatTimer_, &every, &every, false);
}

WebcamVideoNode::~WebcamVideoNode() {
    PipeWireConnection::Lock lock(*connection_);
    pw_loop* loop = pw_thread_loop_get_loop(connection_->threadLoop());
    if (stream_ != nullptr) {
        spa_hook_remove(listener_.get());
        pw_stream_destroy(stream_);
    }
    pw_loop_destroy_source(loop, repeatTimer_);
    pw_loop_destroy_source(loop, wakeEvent_);
}

void WebcamVideoNode::pictureDecoded(const PixelBuffer& frame) {
    if (!frame) {
        return;
    }
    {
        std::lock_guard guard(slotLock_);
        if (waiting_) {
            ++replaced_;
        }
        waiting_ = frame;
        if (rateSamples_.size() < kRateSamples) {
            rateSamples_.push_back(frame->madeAt());
        }
    }
    pw_loop_signal_event(pw_thread_loop_get_loop(connection_->threadLoop()), wakeEvent_);
}

uint64_t WebcamVideoNode::queued() const {
    std::lock_guard guard(slotLock_);
    return queued_;
}

uint64_t WebcamVideoNode::replaced() const {
    std::lock_guard guard(slotLock_);
    return replaced_;
}

void WebcamVideoNode::wake() {
    Size size;
    {
        std::lock_guard guard(slotLock_);
        if (!waiting_) {
            return;
        }
        size = {waiting_->width(), waiting_->height()};
        lastArrivalAt_ = std::chrono::steady_clock::now();
        if (stream_ == nullptr) {
            if (rateSamples_.size() < kRateSamples) {
                return;
            }
            const double seconds =
                std::chrono::duration<double>(rateSamples_.back() - rateSamples_.front()).count();
            const double rate = seconds > 0 ? (kRateSamples - 1) / seconds : kMaxFramesPerSecond;
            framesPerSecond_ =
                std::clamp(static_cast<int>(std::lround(rate)), 1, kMaxFramesPerSecond);
        }
    }
    if (stream_ == nullptr) {
        connectStream(size);
        return;
    }
    if (size != offered_) {
        offerFormat(size);
        return;
    }
    process();
}

void WebcamVideoNode::repeatTick() {
    // Only a camera that went quiet is covered for; a reader that paused and comes back gets
    // the next new picture.
    const auto now = std::chrono::steady_clock::now();
    if (!streaming_ || !last_ || Size{last_->width(), last_->height()} != negotiated_ ||
        now - lastQueuedAt_ < kRepeatInterval || now - lastArrivalAt_ < kRepeatInterval) {
        return;
    }
    send(last_);
}

void WebcamVideoNode::connectStream(Size size) {
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, names_.nodeName.c_str(),
        PW_KEY_NODE_DESCRIPTION, names_.description.c_str(), nullptr);
    stream_ = pw_stream_new(connection_->core(), names_.nodeName.c_str(), properties);
    if (stream_ == nullptr) {
        logLine("webcam node not made: " + names_.nodeName);
        return;
    }
    listener_ = std::make_unique<spa_hook>();
    pw_stream_add_listener(stream_, listener_.get(), &WebcamVideoCallbacks::events(), this);
    uint8_t storage[1024];
    const spa_pod* format =
        i420Format(storage, sizeof(storage), size.width, size.height, framesPerSecond_);
    offered_ = size;
    const int result =
        pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
    if (result < 0) {
        logLine("webcam node not connected: " + names_.nodeName + ": " + std::strerror(-result));
    }
}

void WebcamVideoNode::offerFormat(Size size) {
    uint8_t storage[1024];
    const spa_pod* format =
        i420Format(storage, sizeof(storage), size.width, size.height, framesPerSecond_);
    offered_ = size;
    pw_stream_update_params(stream_, &format, 1);
}

void WebcamVideoNode::formatChanged(const spa_pod* format) {
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(format, &info) < 0 || info.format != SPA_VIDEO_FORMAT_I420 ||
        info.size.width == 0 || info.size.height == 0 || info.size.width > 16384 ||
        info.size.height > 16384) {
        negotiated_ = {};
        return;
    }
    negotiated_ = {static_cast<int>(info.size.width), static_cast<int>(info.size.height)};
    const I420Layout layout(negotiated_.width, negotiated_.height);
    uint8_t storage[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, storage, sizeof(storage));
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(layout.size), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(layout.strides[0]), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
    pw_stream_update_params(stream_, params, 2);
}

void WebcamVideoNode::stateChanged(int state) { streaming_ = state == PW_STREAM_STATE_STREAMING; }

void WebcamVideoNode::process() {
    if (!streaming_) {
        return;
    }
    PixelBuffer picture;
    {
        std::lock_guard guard(slotLock_);
        picture = std::move(waiting_);
        waiting_ = nullptr;
    }
    if (!picture) {
        return;
    }
    if (Size{picture->width(), picture->height()} == negotiated_ && send(picture)) {
        return;
    }
    // Not sent (every buffer still with the reader, or the new size still being agreed): it
    // waits, unless a newer picture came meanwhile.
    std::lock_guard guard(slotLock_);
    if (!waiting_) {
        waiting_ = std::move(picture);
    } else {
        ++replaced_;
    }
}

bool WebcamVideoNode::send(const PixelBuffer& picture) {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) {
        return false;
    }
    spa_buffer* data = buffer->buffer;
    const I420Layout layout(picture->width(), picture->height());
    if (data->n_datas < 1 || data->datas[0].data == nullptr ||
        data->datas[0].maxsize < static_cast<uint32_t>(layout.size)) {
        // Buffers of another size: handed back empty.
        if (data->n_datas >= 1) {
            data->datas[0].chunk->size = 0;
        }
        pw_stream_queue_buffer(stream_, buffer);
        return true;
    }
    copyI420(*picture, layout, static_cast<uint8_t*>(data->datas[0].data));
    data->datas[0].chunk->offset = 0;
    data->datas[0].chunk->size = static_cast<uint32_t>(layout.size);
    data->datas[0].chunk->stride = layout.strides[0];
    auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(data, SPA_META_Header, sizeof(spa_meta_header)));
    if (header != nullptr) {
        header->flags = 0;
        header->offset = 0;
        header->pts = monotonicNanoseconds(picture->madeAt());
        header->dts_offset = 0;
        header->seq = sequence_++;
    }
    pw_stream_queue_buffer(stream_, buffer);
    const auto now = std::chrono::steady_clock::now();
    lastQueuedAt_ = now;
    const bool repeat = picture == last_;
    last_ = picture;
    {
        std::lock_guard guard(slotLock_);
        ++queued_;
    }
    if (observer_ && !repeat) {
        observer_(now - picture->madeAt());
    }
    return true;
}

}  // namespace vistamo
