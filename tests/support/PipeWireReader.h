#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct spa_hook;
struct spa_pod;

namespace vistamo::test {

// A PipeWire client of the test's own that reads one node, as a call program would: a capture
// stream linked by the session manager to the node named `target` (its "target.object"). Video
// is taken as I420 of any size, each picture's frame number read as the test camera draws it;
// sound as 48,000 Hz mono 16-bit samples.
//
// Threads: its own PipeWire loop fills the records; the accessors from any thread.
class PipeWireReader {
public:
    enum class Kind { video, sound };
    struct Picture {
        int width = 0;
        int height = 0;
        int number = -1;
        std::chrono::steady_clock::time_point at;
    };
    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };

    PipeWireReader(Kind kind, const std::string& target);
    ~PipeWireReader();

    PipeWireReader(const PipeWireReader&) = delete;
    PipeWireReader& operator=(const PipeWireReader&) = delete;

    std::vector<Picture> pictures() const;
    // The picture sizes agreed on, in order.
    std::vector<Size> formats() const;
    std::vector<int16_t> samples() const;
    size_t pictureCount() const;
    size_t sampleCount() const;

private:
    friend struct PipeWireReaderCallbacks;
    void formatChanged(const spa_pod* format);
    void process();

    Kind kind_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    std::unique_ptr<spa_hook> listener_;

    mutable std::mutex lock_;
    std::vector<Picture> pictures_;
    std::vector<Size> formats_;
    std::vector<int16_t> samples_;
    Size size_;  // the loop's thread only
};

}  // namespace vistamo::test
