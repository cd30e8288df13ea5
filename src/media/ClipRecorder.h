#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Queue.h"
#include "dispatch/SerialQueue.h"
#include "media/AlarmClip.h"
#include "media/ClipWriter.h"
#include "media/PreEventRing.h"
#include "media/SessionRecorder.h"
#include "platform/Bytes.h"

namespace vistamo {

// Records one camera to MP4 files, on demand (`start`/`stop`) or on motion (`alarm`), from
// what the camera sends, without re-encoding. Writing runs on a serial queue of its own; the
// caller's thread never waits on the disk. When the disk cannot keep up, the pictures up to
// the next key frame are left out (said once per recording).
//
// Threads: every operation is called from one thread, the caller's (the session's queue).
// `onNotice` and `onFinished` run on `callbackQueue`, possibly after the recorder is gone:
// they capture what they use weakly. Destroying the recorder stops its recording; the file
// is finished on the writer's thread afterwards (`onFinished` says when), and a process that
// ends first leaves a `.part` file that plays up to its last key frame.
class ClipRecorder final : public SessionRecorder {
public:
    struct Options {
        std::string cameraName;
        // Where files go; the Videos folder's "vistamo+" folder when none.
        std::optional<std::filesystem::path> folder;
        // Seconds kept before an alarm; 0 keeps no ring.
        double secondsBefore = 0;
        // Seconds an alarm clip lasts after its last alarm.
        double secondsAfter = 20;
        // Seconds on a steady clock, callable from any thread; the real one when none.
        std::function<double()> clock;
        std::shared_ptr<dispatch::Queue> callbackQueue;
        // The serial queue that writes the files; one of its own when none. A test that hands
        // its own can wait on it until everything handed over is written.
        std::shared_ptr<dispatch::SerialQueue> writerQueue;
        // A problem the user can act on, as one sentence.
        std::function<void(const std::string&)> onNotice;
        // A recording's file is complete (also after a failure, with what was written).
        std::function<void(const std::filesystem::path&)> onFinished;
        // What may wait for the writer before pictures are left out.
        size_t maxBacklogBytes = 32 * 1024 * 1024;
        size_t maxRingBytes = 64 * 1024 * 1024;
        ClipWriter::Options writer;
    };

    explicit ClipRecorder(Options options);
    ~ClipRecorder() override;

    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // What the camera sends, as received: the sequence and picture parameter sets and each
    // NAL unit with its 4-byte prefix; a picture's units (one, or two slices) together, with
    // the camera's time stamp when it sent one; one Opus packet.
    void parameterSets(ByteView sps, ByteView pps) override;
    void picture(const std::vector<ByteView>& units, bool keyFrame,
                 std::optional<double> cameraSeconds) override;
    void sound(ByteView opusPacket) override;

    // Starts recording at the next key frame. False, with a notice, when the camera has not
    // sent its parameter sets yet or the folder cannot be made. Starting while recording
    // keeps the recording (an alarm clip becomes an open-ended one).
    bool start() override;
    // Ends the recording; its file is finished on the writer queue.
    void stop() override;
    // Motion: begins a clip with the ring's pictures, or extends the running clip.
    bool alarm() override;
    // From any thread (the window drawing the red dot and the running time): recording or
    // waiting for the key frame to begin with, and the seconds since the recording began.
    bool isRecording() const override { return state_ != State::idle; }
    double recordingSeconds() const override;

    void setClipSeconds(double secondsBefore, double secondsAfter) override;

    // Files of all recorders that are open and not yet finished, from any thread: an
    // application that ends waits for them, or they stay `.part` files.
    static int filesBeingWritten();

private:
    enum class State { idle, waitingForKeyFrame, recording };
    bool idle() const;
    struct Recording;
    struct Sinks;
    static void finishRecording(Recording& recording, const Sinks& sinks);

    double now() const;
    bool openRecording();
    void send(RecordedSample sample);
    void continueInNewFile();
    void checkClipEnd(double now);
    void notice(const std::string& text) const;

    // Set at construction; the clip's seconds change on the caller's thread.
    Options options_;
    std::shared_ptr<dispatch::SerialQueue> writerQueue_;
    // Shared with the writer queue: bytes handed to it and not yet written.
    std::shared_ptr<std::atomic<size_t>> backlogBytes_;
    std::shared_ptr<const Sinks> sinks_;

    // Caller's thread only.
    std::shared_ptr<const H264ParameterSets> format_;
    // The parameter sets of the file being written.
    std::shared_ptr<const H264ParameterSets> recordingFormat_;
    std::optional<PreEventRing> ring_;
    AlarmClip clip_;
    bool alarmClip_ = false;
    bool dropping_ = false;
    bool saidDropping_ = false;
    // The recording being written; its writer is touched on the writer queue only.
    std::shared_ptr<Recording> recording_;

    // Written on the caller's thread, read from any.
    std::atomic<State> state_{State::idle};
    std::atomic<double> startedAt_{0};
};

}  // namespace vistamo
