#include "media/ClipWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "media/Muxing.h"

namespace vistamo {

namespace {

constexpr int kVideoClock = StreamTimeline::kVideoClock;
constexpr int kAudioRate = StreamTimeline::kAudioRate;
constexpr int kIoBufferBytes = 64 * 1024;

// The OpusHead record for one channel at 48 kHz, no pre-skip, no output gain.
Bytes opusHead() {
    Bytes head = bytesOf("OpusHead");
    head.push_back(1);  // version
    head.push_back(1);  // channels
    head.push_back(0);  // pre-skip, little-endian
    head.push_back(0);
    for (const uint8_t byte : {0x80, 0xBB, 0x00, 0x00}) {  // input rate 48000
        head.push_back(byte);
    }
    head.push_back(0);  // output gain
    head.push_back(0);
    head.push_back(0);  // channel mapping family
    return head;
}

std::string errorText(int errnoValue) {
    if (errnoValue == ENOSPC || errnoValue == EDQUOT || errnoValue == EFBIG) {
        return "the disk is full";
    }
    return std::strerror(errnoValue);
}

// libavformat's write callback took mutable bytes before version 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using CallbackBytes = const uint8_t*;
#else
using CallbackBytes = uint8_t*;
#endif

}  // namespace

namespace {
int writeCallback(void* opaque, CallbackBytes data, int size) {
    return ClipWriter::writeBytes(opaque, data, size);
}
}  // namespace

void ClipWriter::FormatDeleter::operator()(AVFormatContext* context) const {
    avformat_free_context(context);
}

void ClipWriter::IoDeleter::operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
}

ClipWriter::ClipWriter(std::filesystem::path target, Options options)
    : target_(std::move(target)), options_(std::move(options)) {
    partPath_ = target_;
    partPath_ += ".part";
}

ClipWriter::~ClipWriter() { finish(); }

int ClipWriter::writeBytes(void* opaque, const uint8_t* data, int size) {
    auto* self = static_cast<ClipWriter*>(opaque);
    if (self->options_.beforeWrite) {
        self->options_.beforeWrite();
    }
    size_t left = static_cast<size_t>(size);
    while (left > 0) {
        if (self->options_.failWritesAfterBytes &&
            self->bytesWritten_ + left > *self->options_.failWritesAfterBytes) {
            self->writeErrno_ = ENOSPC;
            return AVERROR(ENOSPC);
        }
        const ssize_t written = ::write(self->fd_, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            self->writeErrno_ = errno;
            return AVERROR(errno);
        }
        data += written;
        left -= static_cast<size_t>(written);
        self->bytesWritten_ += static_cast<uint64_t>(written);
    }
    return size;
}

void ClipWriter::fail(const std::string& text) {
    if (failure_.empty()) {
        failure_ = text;
    }
}

bool ClipWriter::open(const RecordedSample& first) {
    if (!first.keyFrame || !first.format) {
        return false;  // a recording starts on a key frame; wait for one
    }
    description_ = first.format;
    fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail(partPath_.string() + " cannot be created: " + errorText(errno));
        return false;
    }
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "mp4", nullptr) < 0) {
        fail("the MP4 writer is missing");
        return false;
    }
    format_.reset(context);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    AVIOContext* io =
        buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr,
                                    reinterpret_cast<int (*)(void*, uint8_t*, int)>(&writeCallback),
                                    nullptr)
               : nullptr;
    if (io == nullptr) {
        av_free(buffer);
        fail("out of memory");
        return false;
    }
    io_.reset(io);
    io->seekable = 0;
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    // The times written are never negative; sound written ahead of the first picture must not
    // shift the pictures below zero.
    context->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;

    AVStream* video = avformat_new_stream(context, nullptr);
    AVStream* audio = avformat_new_stream(context, nullptr);
    if (video == nullptr || audio == nullptr) {
        fail("out of memory");
        return false;
    }
    video->time_base = {1, kVideoClock};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_H264;
    video->codecpar->width = description_->width();
    video->codecpar->height = description_->height();
    audio->time_base = {1, kAudioRate};
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_OPUS;
    audio->codecpar->sample_rate = kAudioRate;
    audio->codecpar->frame_size = kAudioRate / 100;
    av_channel_layout_default(&audio->codecpar->ch_layout, 1);
    if (!setCodecExtradata(video->codecpar, description_->avcC()) ||
        !setCodecExtradata(audio->codecpar, opusHead())) {
        fail("out of memory");
        return false;
    }
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "frag_custom+empty_moov+delay_moov+default_base_moof",
                0);
    const int result = avformat_write_header(context, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        fail(writeErrno_ ? errorText(writeErrno_) : "the MP4 header cannot be written");
        return false;
    }
    headerWritten_ = true;
    timeline_.begin(first);
    // The header goes out with the first fragment, where the tracks' start times are known
    // and their edit lists can be written.
    return true;
}

bool ClipWriter::write(const RecordedSample& sample) {
    if (finished_ || !failure_.empty()) {
        return false;
    }
    if (!headerWritten_) {
        if (sample.kind != RecordedSample::Kind::video || !open(sample)) {
            return failure_.empty();
        }
    }
    if (sample.kind == RecordedSample::Kind::audio) {
        const auto sound = timeline_.sound(sample);
        // What is not an Opus packet is left out.
        return !sound || writePacket(1, sample.data, sound->pts, sound->pts, sound->samples, true);
    }
    const auto ready = timeline_.picture(sample);
    return !ready || writePicture(*ready);
}

bool ClipWriter::writePicture(const StreamTimeline::TimedPicture& picture) {
    if (picture.sample.keyFrame && picturesWritten_ > 0 && !flushFragment()) {
        return false;
    }
    if (!writePacket(0, picture.sample.data, picture.pts, picture.dts, picture.duration,
                     picture.sample.keyFrame)) {
        return false;
    }
    ++picturesWritten_;
    return true;
}

bool ClipWriter::writePacket(int stream, ByteView data, int64_t pts, int64_t dts, int64_t duration,
                             bool key) {
    const int result = writeTimedPacket(format_.get(), stream, data, pts, dts, duration, key);
    if (result == AVERROR(ENOMEM) && writeErrno_ == 0) {
        fail("out of memory");
        return false;
    }
    if (result < 0 || writeErrno_ != 0) {
        fail(writeErrno_ ? errorText(writeErrno_) : "a packet cannot be written");
        return false;
    }
    return true;
}

bool ClipWriter::flushFragment() {
    av_write_frame(format_.get(), nullptr);
    avio_flush(format_->pb);
    if (writeErrno_ != 0 || format_->pb->error < 0) {
        fail(writeErrno_ ? errorText(writeErrno_) : "the file cannot be written");
        return false;
    }
    committedBytes_ = bytesWritten_;
    return true;
}

std::optional<std::filesystem::path> ClipWriter::finish() {
    if (finished_) {
        return std::nullopt;
    }
    finished_ = true;
    if (fd_ < 0) {
        return std::nullopt;
    }
    if (headerWritten_ && failure_.empty()) {
        if (const auto last = timeline_.finish()) {
            writePicture(*last);
        }
        if (failure_.empty()) {
            av_write_trailer(format_.get());
            avio_flush(format_->pb);
            if (writeErrno_ == 0 && format_->pb->error >= 0) {
                committedBytes_ = bytesWritten_;
            } else {
                fail(writeErrno_ ? errorText(writeErrno_) : "the file cannot be written");
            }
        }
    }
    format_.reset();
    io_.reset();
    // What a failed write left beyond the last whole fragment would only confuse a player.
    if (bytesWritten_ > committedBytes_) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd_, static_cast<off_t>(committedBytes_));
    }
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
    if (!headerWritten_ || committedBytes_ == 0) {
        // Not even the first fragment made it: there is nothing to play.
        std::error_code ignored;
        std::filesystem::remove(partPath_, ignored);
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::rename(partPath_, target_, error);
    if (error) {
        fail(target_.string() + " cannot be named: " + error.message());
        return partPath_;
    }
    return target_;
}

}  // namespace vistamo
