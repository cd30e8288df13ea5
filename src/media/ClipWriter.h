#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "media/RecordedSample.h"
#include "media/StreamTimeline.h"

struct AVFormatContext;
struct AVIOContext;

namespace vistamo {

// Writes one recording: a fragmented MP4 file holding the camera's H.264 pictures and Opus
// packets exactly as received, one fragment per key frame. The file is written under
// `<target>.part` and renamed to `target` by `finish`; a process killed on the way leaves a
// `.part` file that plays up to its last whole fragment, and a failed write (a full disk)
// cuts the file back to its last whole fragment.
//
// Not thread-safe: every call comes from one thread (the recorder's writer queue).
class ClipWriter {
public:
    struct Options {
        // Test seam: writes past this many bytes fail with ENOSPC, as on a full disk.
        std::optional<uint64_t> failWritesAfterBytes;
        // Test seam: called before each write to the file, on the writer's thread (a slow
        // disk).
        std::function<void()> beforeWrite;
    };

    ClipWriter(std::filesystem::path target, Options options);
    ~ClipWriter();

    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // The first sample must be a key frame with its format; it opens the file. False once
    // writing has failed (see `failure`); later calls are ignored then.
    bool write(const RecordedSample& sample);

    // Writes what is held back, closes the file and renames it to the target (also after a
    // failure, with what was written). The final path, or none when no file was made.
    std::optional<std::filesystem::path> finish();

    // Why writing stopped, for people; empty while all is well.
    const std::string& failure() const { return failure_; }
    const std::filesystem::path& target() const { return target_; }

    // The file's write callback; `opaque` is the writer.
    static int writeBytes(void* opaque, const uint8_t* data, int size);

private:
    bool open(const RecordedSample& first);
    bool writePicture(const StreamTimeline::TimedPicture& picture);
    bool writePacket(int stream, ByteView data, int64_t pts, int64_t dts, int64_t duration,
                     bool key);
    bool flushFragment();
    void fail(const std::string& text);

    std::filesystem::path target_;
    std::filesystem::path partPath_;
    Options options_;

    int fd_ = -1;
    uint64_t bytesWritten_ = 0;
    // The file's length at the end of the last whole fragment.
    uint64_t committedBytes_ = 0;
    int writeErrno_ = 0;

    struct FormatDeleter {
        void operator()(AVFormatContext* context) const;
    };
    struct IoDeleter {
        void operator()(AVIOContext* io) const;
    };
    std::unique_ptr<AVFormatContext, FormatDeleter> format_;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    std::shared_ptr<const H264ParameterSets> description_;
    bool headerWritten_ = false;
    bool finished_ = false;
    std::string failure_;

    // A picture is written once the next one has arrived, with its exact duration.
    StreamTimeline timeline_{StreamTimeline::Holding::untilNextPicture};
    int64_t picturesWritten_ = 0;
};

}  // namespace vistamo
